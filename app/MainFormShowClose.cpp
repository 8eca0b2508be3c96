// The window's show and close sequences: bringing the loader into working order when the window
// first appears, and saving the settings and releasing every device when it goes.

#include "app/ErrorDisplay.h"
#include "app/Language.h"
#include "app/LoaderError.h"
#include "app/MainForm.h"
#include "devices/Channel.h"
#include "devices/DriverBindings.h"
#include "platform/DataFolders.h"

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QShowEvent>

#include <cstdio>

namespace {
// One line on standard error, where a close that nobody watches leaves its errors.
void PrintError(const QString& text)
{
    std::fprintf(stderr, "GXFWLoader: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}
}  // namespace

void TMainForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!RunsShowAndCloseSequences || showSequenceRan_) return;
    showSequenceRan_ = true;
    // Run once the window is on screen, from the event loop: an error the sequence raises then
    // reaches the one error display, and the window can close from within the sequence.
    QMetaObject::invokeMethod(this, &TMainForm::FormShow, Qt::QueuedConnection);
}

void TMainForm::FormShow()
{
    ExeDirectory = ExecutableDirectory ? ExecutableDirectory()
                                       : QCoreApplication::applicationDirPath() + QLatin1Char('/');
    const LoaderFolders folders = ChooseLoaderFolders(ExeDirectory);
    SettingsDirectory = folders.Settings;
    LogsDirectory = folders.Logs;
    InitMessageCatalogue();
    // Settings the loader may not write (a read-only folder) are shown as an error, and the rest
    // of the sequence still runs: the loader works with the settings it can read and cannot save.
    try {
        PrepareSettings();
    } catch (...) {
        ReportError(std::current_exception());
    }
    try {
        LoadSettings();
    } catch (...) {
        ReportError(std::current_exception());
    }

    setWindowTitle(WindowTitle(CurrentLanguage));
    gbFile->setTitle(Msg(66));
    lblFileName->setText(Msg(67));
    btnFwLoad->setText(Msg(68));
    lblFileDate->setText(Msg(69));
    lblFileVersion->setText(Msg(70));
    cbAutoWrite->setText(Msg(71));
    cbStartApp->setText(Msg(72));
    cbWritelogToFile->setText(Msg(73));
    FitLabelsToText();

    // The image is read and checked once, as if Read were pressed, before any driver is bound.
    btnFwLoadClick();

    edFWFile->view()->setMinimumWidth(500);

    BindDriverLibraries();
    driversBound_ = true;

    if (!ExternalFirmwareAllowed) edFWFile->setEditText(QString());
    for (QWidget* w : {static_cast<QWidget*>(edFWFile), static_cast<QWidget*>(btnFwLoad),
                       static_cast<QWidget*>(btnFwOpen), static_cast<QWidget*>(lblFileName)})
        w->setVisible(ExternalFirmwareAllowed);
}

void TMainForm::BindDriverLibraries()
{
    const TDriverBindings bound = BindMissingDriverLibraries();
    if (!bound.Ftdi && !bound.Vendor) {
        if (closingUnattended_)
            PrintError(Msg(2));  // nobody to click the box away: the window is closing anyway
        else
            ShowErrorBox(QString::fromUtf16(kMessageBoxCaption), Msg(2));
        // Closing ends the run once the show sequence has finished its remaining steps.
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    }
    if (!bound.Ftdi) AddLog(Error, Msg(0));
    if (!bound.Vendor) AddLog(Error, Msg(1));
}

void TMainForm::FormDestroy()
{
    // An error while saving is reported, and the devices are still released.
    try {
        SaveSettings();
    } catch (...) {
        ReportError(std::current_exception());
    }

    // Every worker is stopped and awaited here, before DeviceListLock is taken (a scan's
    // reconciliation may be waiting for that lock) and before any record goes: a write session
    // uses its record and channel until it has ended.
    StopWorkers();

    std::lock_guard<std::recursive_mutex> lock(DeviceListLock);
    for (std::unique_ptr<TDevEntry>& device : DeviceList) {
        ChannelClose(*device);
        device.reset();  // its panel goes with it
    }
    DeviceList.clear();
}

void TMainForm::CloseUnattended()
{
    closingUnattended_ = true;
    // Closed from the event loop proper, once a dismissed box's nested loop has ended.
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void TMainForm::ReportError(std::exception_ptr error)
{
    if (!closingUnattended_) {
        ShowException(error);
        return;
    }
    // Nobody is there to close a box: the error goes where a production line's records are.
    const QString text = ExceptionText(error);
    PrintError(text);
    AddLogText(Error, text);
}
