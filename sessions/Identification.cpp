#include "sessions/Identification.h"

#include "app/Language.h"
#include "devices/Channel.h"
#include "devices/Text8.h"

namespace {
// Keeps the status of a reply that looked like a packet, for the pass's message 5.
void NoteReply(TIdentifyContext& context, const ReplyCode& reply)
{
    if (reply) context.LastReplyCode = *reply;
}

bool Stopped(const TIdentifyContext& context)
{
    return context.StopRequested && context.StopRequested();
}

void Log(TIdentifyContext& context, int kind, int32_t device, const QString& format,
         std::initializer_list<LogArg> args = {})
{
    if (context.Log) context.Log(kind, device, format, args);
}
}  // namespace

bool IdentifyDevice(TIdentifyContext& context, TDevEntry& device)
{
    if (!ChannelOpen(device)) {
        context.ScanError = kScanOpenFailed;
        return false;
    }
    // Closed however identification ends, an error raised inside it included: a record must not
    // reach DeviceList, or be freed, with its channel open.
    const ChannelCloser closer(device);

    QueryReplyBuffer buffer{};
    const QueryVersionResult firmware = QueryVersion(device, CMD_READ_FIRMWARE_VERSION, buffer);
    NoteReply(context, firmware.LastReply);
    if (firmware.Accepted) {
        // In bootloader mode whether or not the text reads as a version.
        ParseVersion(device.FirmwareVersion, firmware.Text);
        device.InBootloader = true;
        if (firmware.ReplyOwed) NoteReply(context, DropOwedQueryReply(device));
    } else {
        // Up to four reads of 2 s each: a window that is closing does not wait for them.
        const AppVersionResult application =
            ReadApplicationVersion(device, [&context] { return Stopped(context); });
        NoteReply(context, application.LastReply);
        if (!application.Success) context.ScanError = kScanNoAnswer;
    }

    if (context.ScanError == kScanOk && !Stopped(context)) {
        if (device.InBootloader)
            ReadBootloaderDetails(context, device, buffer);
        else
            SwitchToBootloader(context, device);
    }
    return context.ScanError == kScanOk;
}

void ReadBootloaderDetails(TIdentifyContext& context, TDevEntry& device, QueryReplyBuffer& buffer)
{
    const QueryVersionResult boot = QueryVersion(device, CMD_READ_BOOT_VERSION, buffer);
    NoteReply(context, boot.LastReply);
    if (boot.Accepted) ParseVersion(device.BootloaderVersion, boot.Text);
    // A version text still on its way would be read as the processor identifier's reply.
    if (boot.ReplyOwed) NoteReply(context, DropOwedQueryReply(device));
    if (Stopped(context)) return;

    const ProcessorIdResult processor = QueryProcessorId(device, buffer);
    NoteReply(context, processor.LastReply);
    switch (processor.Outcome) {
        case ProcessorIdOutcome::NotSent:
        case ProcessorIdOutcome::Refused:
            break;
        case ProcessorIdOutcome::NoReply:
            Log(context, Error, 0, Msg(38));
            break;
        case ProcessorIdOutcome::Accepted:
            device.ProcessorId = processor.ProcessorId;
            break;
    }
}

void SwitchToBootloader(TIdentifyContext& context, TDevEntry& device)
{
    const int32_t number = device.SerialNumber;
    Log(context, Normal, number, Msg(39));
    const StartBootloaderResult start = StartBootloaderExchange(device);
    NoteReply(context, start.LastReply);
    device.BootloaderStarted = start.Outcome == StartBootloaderOutcome::Started;
    switch (start.Outcome) {
        case StartBootloaderOutcome::SendFailed:
            Log(context, Error, number, Msg(37));
            break;
        case StartBootloaderOutcome::NoReply:
            Log(context, Error, number, Msg(43));
            break;
        case StartBootloaderOutcome::Started:
            Log(context, Normal, number, Msg(40));
            break;
        case StartBootloaderOutcome::StartError:
            Log(context, Error, number, Msg(41));
            break;
        case StartBootloaderOutcome::OtherReply:
            Log(context, Error, number, Msg(42), {DecodeText8(start.Text)});
            break;
    }
}
