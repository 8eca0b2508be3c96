#include "sessions/BootProtocol.h"

#include "devices/Channel.h"
#include "devices/LittleEndian.h"
#include "platform/Ticks.h"

#include <algorithm>
#include <cstring>

namespace {
// Keeps the status of a reply that looks like a packet, for discovery's report.
void NoteReply(ReplyCode& last, const uint8_t* bytes, uint32_t count)
{
    const std::optional<BootPacket> header = ReadBootHeader({bytes, count});
    if (header && header->HeaderLength == BOOT_HEADER_LENGTH) last = header->Status();
}

// Every request goes out on a clean line: what the device sent before it and nobody read (the
// rest of a late or padded reply) answers nothing that is asked now.
bool SendRequest(TDevEntry& device, const void* data, size_t size)
{
    ChannelDiscardQueued(device);
    return ChannelSend(device, data, static_cast<uint32_t>(size));
}

bool SendPacket(TDevEntry& device, const std::vector<uint8_t>& packet)
{
    return SendRequest(device, packet.data(), packet.size());
}

bool Stopped(const ChannelStop& stop)
{
    return stop && stop();
}

// The reply bytes the device still owes to the requests of one erase or write-part exchange. A
// repeated request and the one it repeats each get a reply, and a reply may come after its read
// gave up: without this count the reply still owed would be read as the answer to the next
// request (an erase reply repeats the sector and its start, exactly what the sector's first part
// is checked for), and every later answer would be one behind.
class ReplyDebt {
public:
    ReplyDebt(TDevEntry& device, const ChannelStop& stop) : device_(device), stop_(stop) {}

    void Sent() { owed_ += BOOT_HEADER_LENGTH; }
    void Received(uint32_t count) { owed_ -= std::min(owed_, count); }
    // What is queued before a request belongs to earlier ones.
    void DiscardQueued() { Received(ChannelDiscardQueued(device_)); }
    // A reply that came in part: its rest is awaited and dropped, so that the repeated request's
    // reply starts a read of its own. Rest that does not come within the reply time-out is lost.
    void AwaitPartialReply()
    {
        const uint32_t rest = owed_ % BOOT_HEADER_LENGTH;
        if (rest == 0) return;
        owed_ -= rest - Await(rest);
    }
    // Everything still owed, awaited within one reply time-out and dropped; what has not come by
    // then is lost (the device never got that request, or dropped it).
    void Settle() { owed_ -= Await(owed_); }

private:
    // Reads and drops up to count bytes within one reply time-out; returns how many came. Only
    // the time ends the wait: a read that failed at once says nothing about what is still coming.
    uint32_t Await(uint32_t count)
    {
        const uint32_t start = TickCount();
        uint32_t received = 0;
        std::array<uint8_t, 4 * BOOT_HEADER_LENGTH> scratch;
        while (received < count && !Stopped(stop_)) {
            const uint32_t elapsed = TicksSince(start);
            if (elapsed >= SECTOR_REPLY_TIMEOUT_MS) break;
            const uint32_t want =
                std::min<uint32_t>(count - received, static_cast<uint32_t>(scratch.size()));
            const uint32_t got = ChannelRead(device_, scratch.data(), want,
                                             SECTOR_REPLY_TIMEOUT_MS - elapsed, stop_);
            if (got == 0) PauseMs(1);
            received += std::min(got, want);
        }
        return received;
    }

    TDevEntry& device_;
    const ChannelStop& stop_;
    uint32_t owed_ = 0;
};

// The text from offset 14 up to the first zero byte or the end of what arrived.
std::string PayloadText(const uint8_t* bytes, uint32_t count)
{
    if (count <= BOOT_HEADER_LENGTH) return {};
    const auto* begin = reinterpret_cast<const char*>(bytes) + BOOT_HEADER_LENGTH;
    const size_t available = count - BOOT_HEADER_LENGTH;
    const void* zero = std::memchr(begin, 0, available);
    return std::string(begin, zero ? static_cast<const char*>(zero) - begin : available);
}

// The header test of a query reply: a header of 14, status accepted, a payload announced.
std::optional<BootPacket> AcceptedQueryReply(const uint8_t* bytes, uint32_t count)
{
    const std::optional<BootPacket> header = ReadBootHeader({bytes, count});
    if (!header || header->HeaderLength != BOOT_HEADER_LENGTH ||
        header->Status() != STATUS_ACCEPTED || header->PacketLength <= BOOT_HEADER_LENGTH)
        return std::nullopt;
    return header;
}

// The attempts of an erase or a write-part: the same request until a read brings exactly 14
// bytes, then the lengths and the echo decide at once. Whatever the outcome, the replies still owed
// by the attempts are awaited and dropped before the exchange returns, so a decision is made only
// on a reply of this request and the next request finds nothing of this one's.
SectorExchangeResult SectorExchange(TDevEntry& device, const std::vector<uint8_t>& request,
                                    uint16_t sector, std::optional<uint32_t> address,
                                    SectorReplyBuffer& reply, const ChannelStop& stop)
{
    SectorExchangeResult result;
    ReplyDebt debt(device, stop);
    bool decided = false;
    for (int attempt = 0; attempt < SECTOR_EXCHANGE_ATTEMPTS && !decided; ++attempt) {
        debt.AwaitPartialReply();
        debt.DiscardQueued();
        if (Stopped(stop)) break;  // asked last thing before each request goes out
        if (!ChannelSend(device, request.data(), static_cast<uint32_t>(request.size()))) continue;
        debt.Sent();
        const uint32_t count =
            ChannelRead(device, reply.data(), BOOT_HEADER_LENGTH, SECTOR_REPLY_TIMEOUT_MS, stop);
        debt.Received(count);
        NoteReply(result.LastReply, reply.data(), count);
        // A stop that lands during the read is a stop, whatever the read brought.
        if (Stopped(stop)) break;
        if (count != BOOT_HEADER_LENGTH) continue;
        decided = true;
        const BootPacket header = *ReadBootHeader(reply);
        if (header.PacketLength != BOOT_HEADER_LENGTH ||
            header.HeaderLength != BOOT_HEADER_LENGTH || header.Sector != sector ||
            (address && header.Address != *address))
            break;
        result.DeviceStatus = header.Status();
        result.Protected = header.Status() == STATUS_SECTOR_PROTECTED;
        result.Success = header.Status() == STATUS_ACCEPTED || result.Protected;
    }
    if (Stopped(stop)) {
        // However far it got: a session asked to stop ends as stopped.
        result.Success = result.Protected = false;
        result.Stopped = true;
        return result;
    }
    debt.Settle();
    return result;
}
}  // namespace

std::vector<uint8_t> BuildBootPacket(uint16_t command, uint16_t sector, uint32_t address,
                                     std::span<const uint8_t> payload)
{
    std::vector<uint8_t> packet(BOOT_HEADER_LENGTH + payload.size(), 0);
    const auto length = static_cast<uint16_t>(packet.size());
    WriteLe16(&packet[0], length);
    WriteLe16(&packet[2], BOOT_HEADER_LENGTH);
    WriteLe16(&packet[4], command);
    WriteLe16(&packet[6], sector);
    WriteLe32(&packet[8], address);
    std::copy(payload.begin(), payload.end(), packet.begin() + BOOT_HEADER_LENGTH);
    WriteLe16(&packet[12], PacketChecksum(packet.data(), length));
    return packet;
}

std::optional<BootPacket> ReadBootHeader(std::span<const uint8_t> bytes)
{
    if (bytes.size() < BOOT_HEADER_LENGTH) return std::nullopt;
    const uint8_t* p = bytes.data();
    BootPacket header;
    header.PacketLength = ReadLe16(p);
    header.HeaderLength = ReadLe16(p + 2);
    header.Command = ReadLe16(p + 4);
    header.Sector = ReadLe16(p + 6);
    header.Address = ReadLe32(p + 8);
    header.Checksum = ReadLe16(p + 12);
    return header;
}

bool UsesSecondCommandSet(uint32_t processorId, uint16_t bootloaderNumber,
                          std::string_view imageName)
{
    if (std::find(V2_PROCESSOR_IDS.begin(), V2_PROCESSOR_IDS.end(), processorId) !=
        V2_PROCESSOR_IDS.end())
        return true;
    return imageName == "GXLV" && bootloaderNumber >= 104;
}

uint16_t EraseSectorCommand(uint32_t processorId, uint16_t bootloaderNumber,
                            std::string_view imageName)
{
    return UsesSecondCommandSet(processorId, bootloaderNumber, imageName) ? CMD_ERASE_SECTOR_V2
                                                                          : CMD_ERASE_SECTOR_V1;
}

uint16_t WritePartCommand(uint32_t processorId, uint16_t bootloaderNumber,
                          std::string_view imageName)
{
    return UsesSecondCommandSet(processorId, bootloaderNumber, imageName) ? CMD_WRITE_PART_V2
                                                                          : CMD_WRITE_PART_V1;
}

QueryVersionResult QueryVersion(TDevEntry& device, uint16_t command, QueryReplyBuffer& buffer)
{
    QueryVersionResult result;
    buffer.fill(0);
    if (!SendPacket(device, BuildBootPacket(command, NO_SECTOR, 0))) return result;
    const uint32_t count =
        ChannelRead(device, buffer.data(), QUERY_REPLY_CAPACITY, VERSION_QUERY_TIMEOUT_MS);
    NoteReply(result.LastReply, buffer.data(), count);
    const std::optional<BootPacket> header = ReadBootHeader({buffer.data(), count});
    // Nothing, or less than a header: the rest may come. A header that announces more than came:
    // it will.
    result.ReplyOwed = !header || header->PacketLength > count;
    if (!AcceptedQueryReply(buffer.data(), count)) return result;
    result.Accepted = true;
    result.Text = PayloadText(buffer.data(), count);
    return result;
}

ReplyCode DropOwedQueryReply(TDevEntry& device)
{
    QueryReplyBuffer scratch;
    const uint32_t count =
        ChannelRead(device, scratch.data(), QUERY_REPLY_CAPACITY, VERSION_QUERY_TIMEOUT_MS);
    ReplyCode last;
    NoteReply(last, scratch.data(), count);
    return last;
}

ProcessorIdResult QueryProcessorId(TDevEntry& device, QueryReplyBuffer& buffer)
{
    ProcessorIdResult result;
    if (!SendPacket(device, BuildBootPacket(CMD_READ_PROCESSOR_ID, NO_SECTOR, 0))) return result;
    const uint32_t count =
        ChannelRead(device, buffer.data(), QUERY_REPLY_CAPACITY, PROCESSOR_ID_TIMEOUT_MS);
    NoteReply(result.LastReply, buffer.data(), count);
    if (count < BOOT_HEADER_LENGTH) {
        result.Outcome = ProcessorIdOutcome::NoReply;
        return result;
    }
    // Bytes 14..17 of a shorter reply would be whatever an earlier reply left in the buffer.
    if (!AcceptedQueryReply(buffer.data(), count) || count < BOOT_HEADER_LENGTH + 4u) {
        result.Outcome = ProcessorIdOutcome::Refused;
        return result;
    }
    result.Outcome = ProcessorIdOutcome::Accepted;
    result.ProcessorId = ReadLe32(buffer.data() + BOOT_HEADER_LENGTH);
    return result;
}

SectorExchangeResult EraseSectorExchange(TDevEntry& device, uint16_t command, uint16_t sector,
                                         uint32_t address, const ChannelStop& stop)
{
    SectorReplyBuffer reply{};
    return SectorExchange(device, BuildBootPacket(command, sector, address), sector, std::nullopt,
                          reply, stop);
}

SectorExchangeResult WritePartExchange(TDevEntry& device, uint16_t command, uint16_t sector,
                                       uint32_t address,
                                       std::span<const uint8_t, WRITE_PART_SIZE> data,
                                       SectorReplyBuffer& reply, const ChannelStop& stop)
{
    return SectorExchange(device, BuildBootPacket(command, sector, address, data), sector, address,
                          reply, stop);
}

ReplyCode SendControlCommand(TDevEntry& device, uint16_t command, const ChannelStop& stop)
{
    ReplyCode last;
    if (!SendPacket(device, BuildBootPacket(command, NO_SECTOR, 0))) return last;
    QueryReplyBuffer buffer{};
    const uint32_t count =
        ChannelRead(device, buffer.data(), QUERY_REPLY_CAPACITY, CONTROL_REPLY_TIMEOUT_MS, stop);
    NoteReply(last, buffer.data(), count);
    return last;
}

AppVersionResult ReadApplicationVersion(TDevEntry& device, const ChannelStop& stop)
{
    AppVersionResult result;
    // One byte longer than the longest read, so the text's end can always be marked.
    std::array<uint8_t, APP_VERSION_CAPACITY + 1> buffer{};
    for (int attempt = 0; attempt < APP_VERSION_ATTEMPTS; ++attempt) {
        if (stop && stop()) break;
        SendRequest(device, TEXT_READ_VERSION.data(), TEXT_READ_VERSION.size());
        const uint32_t count =
            ChannelRead(device, buffer.data(), APP_VERSION_CAPACITY, APP_VERSION_TIMEOUT_MS, stop);
        NoteReply(result.LastReply, buffer.data(), count);
        if (count < APP_VERSION_MIN_REPLY) continue;
        // Bytes 2 and 3 of a text are letters; 14 and 0 there are a packet's HeaderLength.
        if (buffer[2] == BOOT_HEADER_LENGTH && buffer[3] == 0) continue;
        buffer[count] = 0;
        ParseVersion(device.FirmwareVersion,
                     std::string_view(reinterpret_cast<const char*>(buffer.data()), count));
        if (device.FirmwareVersion.Number != 0) {
            result.Success = true;
            break;
        }
    }
    return result;
}

StartBootloaderResult StartBootloaderExchange(TDevEntry& device)
{
    StartBootloaderResult result;
    if (!SendRequest(device, TEXT_START_BOOT_LOADER.data(), TEXT_START_BOOT_LOADER.size())) {
        result.Outcome = StartBootloaderOutcome::SendFailed;
        return result;
    }
    std::array<uint8_t, START_BOOT_CAPACITY + 1> buffer{};
    const uint32_t count =
        ChannelRead(device, buffer.data(), START_BOOT_CAPACITY, START_BOOT_TIMEOUT_MS);
    NoteReply(result.LastReply, buffer.data(), count);
    if (count == 0) {
        result.Outcome = StartBootloaderOutcome::NoReply;
        return result;
    }
    const std::string_view reply(reinterpret_cast<const char*>(buffer.data()), count);
    if (reply.starts_with(REPLY_STARTED))
        result.Outcome = StartBootloaderOutcome::Started;
    else if (reply.starts_with(REPLY_START_ERROR))
        result.Outcome = StartBootloaderOutcome::StartError;
    else
        result.Outcome = StartBootloaderOutcome::OtherReply;
    result.Text = std::string(reply.substr(0, reply.find('\0')));
    return result;
}
