// The window's side of the firmware write session: starting a session for a device, moving its
// progress bar, and showing its verdict when it ends.

#include "app/Language.h"
#include "app/MainForm.h"
#include "app/SessionRecord.h"
#include "devices/DeviceList.h"
#include "devices/RunningSessions.h"
#include "sessions/DevicePanel.h"
#include "sessions/WriteProcess.h"

#include <QCheckBox>
#include <QProgressBar>
#include <QPushButton>

void TMainForm::SetUpWriteSessions()
{
    // Sessions read "Start application" from their own threads: they get a copy that follows the
    // box (set by a click or by the settings), never the widget.
    connect(cbStartApp, &QCheckBox::toggled, this,
            [this](bool checked) { startApplication_.store(checked); });
    startApplication_.store(cbStartApp->isChecked());
}

bool TMainForm::StartApplicationRequested() const
{
    return startApplication_.load();
}

void TMainForm::UpdateButtonClick(QObject* sender)
{
    TDevEntry* device = nullptr;
    bool start = false;
    {
        std::lock_guard<std::recursive_mutex> lock(DeviceListLock);
        for (const std::unique_ptr<TDevEntry>& entry : DeviceList) {
            if (entry->Panel && entry->Panel->UpdateButton == sender) {
                device = entry.get();
                break;
            }
        }
        start = device && device->InBootloader && !device->Writer;
    }
    if (!device) {
        AddLog(Error, Msg(14));
        return;
    }
    if (start) StartFirmwareWrite(*device);
}

void TMainForm::StartFirmwareWrite(TDevEntry& device)
{
    if (device.Writer) {
        AddDeviceLog(Normal, device.SerialNumber, Msg(17));
        return;
    }
    if (Workers.Closed()) return;  // the window closes: no new session
    auto session = std::make_unique<TWriteThread>(*this, device, SkipCompatibilityCheck);
    {
        // Stored before the thread starts: a scan that finds the device gone asks it to stop.
        std::lock_guard<std::recursive_mutex> lock(DeviceListLock);
        device.Writer = session.get();
    }
    const TWorkerThread* started = session.get();
    if (Workers.Start(std::move(session), QThread::NormalPriority))
        RunningSessions::Process().Add(started, device.SerialNumber);
    if (device.Panel && device.Panel->UpdateButton) device.Panel->UpdateButton->setEnabled(false);
    AddDeviceLog(Normal, device.SerialNumber, Msg(15));
    ShowDeviceStatus(device, Msg(16), Success);
}

QString TMainForm::FirmwareSource() const
{
    return ExternalFirmwareAllowed ? edFWFile->currentText() : QString();
}

void TMainForm::WriteSessionRecord(const TWriteThread& session)
{
    // Kept with the log, and only when the log file is kept.
    if (!cbWritelogToFile->isChecked()) return;
    const TDevEntry& device = *session.Device;
    SessionRecord record;
    record.When = LogClock ? LogClock() : QDateTime::currentDateTime();
    record.Serial = device.SerialNumber;
    record.Driver =
        device.DriverKind == FtdiDriver ? QStringLiteral("ftdi") : QStringLiteral("vendor");
    record.ProcessorId = device.ProcessorId;
    record.FirmwareBefore = FormatVersion(device.FirmwareVersion);
    record.BootloaderBefore = FormatVersion(device.BootloaderVersion);
    record.ImageVersion = FormatVersion(session.ImageVersion);
    record.ImageSource =
        session.ImageSource.isEmpty() ? QStringLiteral("embedded") : session.ImageSource;
    record.ResultCode = session.ErrorCode;
    record.LastStatus = session.LastStatus;
    record.SectorsWritten = session.SectorsWritten;
    record.PartsWritten = session.PartsWritten;
    record.PartsTotal = session.PartsTotal;
    record.DurationMs = session.SessionMs;
    QString reason;
    const bool written = AppendSessionRecord(LogsFolder(), record, &reason);
    NoteFileWrite(sessionRecordFailing_, written, LoaderTextId::SessionRecordUnwritable,
                  DailySessionRecordPath(LogsFolder(), record.When), reason);
}

void TMainForm::ShowProgress(TDevEntry& device, int position)
{
    if (device.Panel && device.Panel->Progress) device.Panel->Progress->setValue(position);
}

void TMainForm::WriteFinished(TWriteThread& session)
{
    RunningSessions::Process().Remove(&session);
    TDevEntry& device = *session.Device;
    const int32_t number = device.SerialNumber;
    if (session.ErrorCode != kWriteOk) {
        // The status first, then the log line; the lock messages win whatever the code.
        if (session.LastStatus == STATUS_DEVICE_LOCKED) {
            ShowDeviceStatus(device, Msg(18), Error);
            AddDeviceLogText(Error, number, Msg(21));
        } else if (session.ErrorCode == kWriteNotCompatible) {
            ShowDeviceStatus(device, Msg(19), Error);
            AddDeviceLogText(Error, number, Msg(22));
        } else {
            ShowDeviceStatus(device, FormatLogText(Msg(20), {session.ErrorCode}), Error);
            AddDeviceLogText(
                Error, number,
                FormatLogText(Msg(23), {session.SessionMs, session.ErrorCode, session.LastStatus}));
        }
    } else {
        ShowDeviceStatus(device, Msg(24), Success);
        AddDeviceLog(Normal, number, Msg(25), {session.SessionMs});
    }
    WriteSessionRecord(session);

    bool detached = false;
    {
        // A pass marks the record detached from its own thread, under this lock; read here, the
        // flag agrees with the link just cleared: a pass that comes later removes the record
        // itself.
        std::lock_guard<std::recursive_mutex> lock(DeviceListLock);
        if (device.Writer == &session) device.Writer = nullptr;
        detached = device.Detached;
    }
    if (device.Panel && device.Panel->UpdateButton) device.Panel->UpdateButton->setEnabled(true);

    if (detached) {
        // The device vanished while it was written. Its own record goes, not the first one of its
        // serial number: two devices whose serial texts read as -1 share one number.
        std::lock_guard<std::recursive_mutex> lock(DeviceListLock);
        AddDeviceLog(Normal, number, Msg(6));
        RemoveDevice(DeviceList, &device);
        UpdateDevPanelHeight();
    }
}
