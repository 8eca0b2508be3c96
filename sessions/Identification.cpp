#include "sessions/Identification.h"

#include "app/Language.h"
#include "app/LogHandOver.h"
#include "devices/Channel.h"
#include "devices/ReadVersion.h"
#include "devices/ScopeExit.h"
#include "devices/Text8.h"

namespace {
QString Msg(int n)
{
    return MessageText(CurrentLanguage, n);
}
}  // namespace

bool IdentifyDevice(TReadVersion& scan, TDevEntry& device)
{
    if (!ChannelOpen(device)) {
        scan.ScanError = kScanOpenFailed;
        return false;
    }
    // Closed however identification ends, an error raised inside it included: a record must not
    // reach DeviceList, or be freed, with its channel open.
    const ScopeExit closer([&device] { ChannelClose(device); });

    QueryReplyBuffer buffer{};
    const QueryVersionResult firmware = QueryVersion(device, CMD_READ_FIRMWARE_VERSION, buffer);
    scan.NoteReply(firmware.LastReply);
    if (firmware.Accepted) {
        // In bootloader mode whether or not the text reads as a version.
        ParseVersion(device.FirmwareVersion, firmware.Text);
        device.InBootloader = true;
    } else {
        // Up to four reads of 2 s each: a window that is closing does not wait for them.
        const AppVersionResult application =
            ReadApplicationVersion(device, [&scan] { return scan.StopRequested(); });
        scan.NoteReply(application.LastReply);
        if (!application.Success) scan.ScanError = kScanNoAnswer;
    }

    if (scan.ScanError == kScanOk && !scan.StopRequested()) {
        if (device.InBootloader)
            ReadBootloaderDetails(scan, device, buffer);
        else
            SwitchToBootloader(scan, device);
    }
    return scan.ScanError == kScanOk;
}

void ReadBootloaderDetails(TReadVersion& scan, TDevEntry& device, QueryReplyBuffer& buffer)
{
    const QueryVersionResult boot = QueryVersion(device, CMD_READ_BOOT_VERSION, buffer);
    scan.NoteReply(boot.LastReply);
    if (boot.Accepted) ParseVersion(device.BootloaderVersion, boot.Text);
    if (scan.StopRequested()) return;

    const ProcessorIdResult processor = QueryProcessorId(device, buffer);
    scan.NoteReply(processor.LastReply);
    switch (processor.Outcome) {
        case ProcessorIdOutcome::NotSent:
        case ProcessorIdOutcome::Refused:
            break;
        case ProcessorIdOutcome::NoReply:
            ReaderLog(scan.Log, Error, 0, Msg(38));
            break;
        case ProcessorIdOutcome::Accepted:
            device.ProcessorId = processor.ProcessorId;
            break;
    }
}

void SwitchToBootloader(TReadVersion& scan, TDevEntry& device)
{
    const int32_t number = device.SerialNumber;
    ReaderLog(scan.Log, Normal, number, Msg(39));
    const StartBootloaderResult start = StartBootloaderExchange(device);
    scan.NoteReply(start.LastReply);
    device.BootloaderStarted = start.Outcome == StartBootloaderOutcome::Started;
    switch (start.Outcome) {
        case StartBootloaderOutcome::SendFailed:
            ReaderLog(scan.Log, Error, number, Msg(37));
            break;
        case StartBootloaderOutcome::NoReply:
            ReaderLog(scan.Log, Error, number, Msg(43));
            break;
        case StartBootloaderOutcome::Started:
            ReaderLog(scan.Log, Normal, number, Msg(40));
            break;
        case StartBootloaderOutcome::StartError:
            ReaderLog(scan.Log, Error, number, Msg(41));
            break;
        case StartBootloaderOutcome::OtherReply:
            ReaderLog(scan.Log, Error, number, Msg(42), {DecodeText8(start.Text)});
            break;
    }
}
