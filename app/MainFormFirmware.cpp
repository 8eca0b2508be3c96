// The window's side of firmware selection: which image the loader writes (the embedded one, or
// in external mode the file named in the file box), the Read and "..." buttons, and the labels
// that show the loaded image. Reading and checking an image is firmware/'s.

#include "app/Language.h"
#include "app/LogFormat.h"
#include "app/MainForm.h"
#include "app/OpenDialog.h"
#include "firmware/FirmwareLoad.h"

FirmwareLogFunction TMainForm::FirmwareLog()
{
    return [this](int kind, const QString& text) { AddLogText(kind, text); };
}

bool TMainForm::LoadFirmware(TFirmwareBlockList& blocks, TFirmwareVersion& version)
{
    if (!blocks.empty()) ClearFirmwareBlocks(blocks);
    const bool loaded = ExternalFirmwareAllowed ? LoadFirmwareFile(blocks, version)
                                                : LoadFirmwareResource(blocks, version);
    if (!loaded) {
        AddLog(Error, Msg(30));
        return false;
    }
    lblFileVer->setText(FormatVersion(version));
    lblFirmwDate->setText(FormatVersionDate(version));
    FitLabelsToText();
    if (ExternalFirmwareAllowed)
        AddLogText(Normal, Msg(27) + edFWFile->currentText() + QLatin1Char('"'));
    else
        AddLogText(Normal, Msg(26));
    AddLog(Normal, Msg(28), {FormatVersion(version)});
    AddLog(Normal, Msg(29), {FormatVersionDate(version)});
    return true;
}

bool TMainForm::LoadFirmwareFile(TFirmwareBlockList& blocks, TFirmwareVersion& version)
{
    if (!ExternalFirmwareAllowed) return false;
    return LoadFirmwareImageFile(edFWFile->currentText(), FirmwareLog(), version, blocks);
}

bool TMainForm::LoadFirmwareResource(TFirmwareBlockList& blocks, TFirmwareVersion& version)
{
    if (ExternalFirmwareAllowed) return false;
    const bool result = LoadEmbeddedFirmwareImage(FirmwareLog(), version, blocks);
    FirmwareFromResource = result;
    return result;
}

void TMainForm::btnFwLoadClick()
{
    TFirmwareBlockList blocks;  // never used: a write session loads the image again
    const bool loaded = LoadFirmware(blocks, LoadedFirmware);
    if (loaded && !FirmwareFromResource) {
        const QString text = edFWFile->currentText();
        bool listed = false;
        for (int i = 0; i < edFWFile->count() && !listed; ++i)
            listed = edFWFile->itemText(i) == text;
        if (!listed) {
            edFWFile->insertItem(0, text);
            edFWFile->setEditText(text);
        }
    }
    ClearFirmwareBlocks(blocks);
}

void TMainForm::btnFwOpenClick()
{
    const QString chosen = OpenDialog1->Execute(edFWFile->currentText());
    if (chosen.isEmpty()) return;
    edFWFile->setEditText(chosen);
    btnFwLoadClick();
}
