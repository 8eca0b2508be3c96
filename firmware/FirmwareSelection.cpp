// Which firmware image the loader writes, and bringing it into memory: the embedded image, or in
// external mode the file named in the file box.

#include "firmware/FirmwareSelection.h"

#include "app/Language.h"
#include "app/LogFormat.h"
#include "app/MainForm.h"
#include "app/WindowThreadCall.h"
#include "firmware/FirmwareImage.h"
#include "platform/ProgramResource.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

namespace {
QString Msg(int n)
{
    return MessageText(CurrentLanguage, n);
}
}  // namespace

FirmwareLogFunction TMainForm::FirmwareLog()
{
    return [this](int kind, const QString& text) { AddLog(kind, text); };
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
    const QString path = edFWFile->currentText();
    const QFileInfo info(path);  // follows links
    if (path.isEmpty() || !info.exists() || info.isDir()) {
        AddLog(Error, Msg(31), {path});
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    // The container states its size in 31 bits; a larger file can never pass the size check,
    // so it is not read into memory at all.
    const qint64 size = file.size();
    if (size < 0 || size > static_cast<qint64>(kImageSizeMask)) return false;
    const QByteArray bytes = file.read(size);
    file.close();
    if (bytes.size() < size) return false;
    return ParseFirmwareImage(FirmwareLog(), reinterpret_cast<const uint8_t*>(bytes.constData()),
                              static_cast<uint32_t>(size), version, blocks);
}

bool TMainForm::LoadFirmwareResource(TFirmwareBlockList& blocks, TFirmwareVersion& version)
{
    if (ExternalFirmwareAllowed) return false;
    bool result = false;
    const std::optional<QByteArray> image = OpenProgramResource("FRMV", "RC_DATA");
    if (image && !image->isEmpty())
        result =
            ParseFirmwareImage(FirmwareLog(), reinterpret_cast<const uint8_t*>(image->constData()),
                               static_cast<uint32_t>(image->size()), version, blocks);
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
    OpenDialog1->selectFile(edFWFile->currentText());
    OpenDialog1->selectNameFilter(OpenDialog1->nameFilters().value(0));
    if (OpenDialog1->exec() != QDialog::Accepted) return;
    const QStringList chosen = OpenDialog1->selectedFiles();
    if (chosen.isEmpty()) return;
    edFWFile->setEditText(chosen.first());
    btnFwLoadClick();
}

bool LoadFirmwareOnWindowThread(TFirmwareBlockList& blocks, TFirmwareVersion& version)
{
    TMainForm* window = MainForm;
    if (!window) return false;
    bool loaded = false;
    auto load = [&] {
        try {
            loaded = window->LoadFirmware(blocks, version);
        } catch (...) {
            loaded = false;
        }
    };
    RunOnWindowThread(window, load);
    return loaded;
}
