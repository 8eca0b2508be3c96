#include "sessions/BootProtocol.h"

#include "devices/Channel.h"
#include "devices/LittleEndian.h"

#include <algorithm>
#include <cstring>

namespace {
// Keeps the status of a reply that looks like a packet, for discovery's report.
void NoteReply(ReplyCode& last, const uint8_t* bytes, uint32_t count)
{
    const std::optional<BootPacket> header = ReadBootHeader({bytes, count});
    if (header && header->HeaderLength == BOOT_HEADER_LENGTH) last = header->Status();
}

bool SendPacket(TDevEntry& device, const std::vector<uint8_t>& packet)
{
    return ChannelSend(device, packet.data(), static_cast<uint32_t>(packet.size()));
}

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
// bytes, then the lengths and the echo decide at once.
SectorExchangeResult SectorExchange(TDevEntry& device, const std::vector<uint8_t>& request,
                                    uint16_t sector, std::optional<uint32_t> address,
                                    SectorReplyBuffer& reply, const ChannelStop& stop)
{
    SectorExchangeResult result;
    for (int attempt = 0; attempt < SECTOR_EXCHANGE_ATTEMPTS; ++attempt) {
        if (stop && stop()) {
            result.Stopped = true;
            return result;
        }
        if (!SendPacket(device, request)) continue;
        const uint32_t count =
            ChannelRead(device, reply.data(), BOOT_HEADER_LENGTH, SECTOR_REPLY_TIMEOUT_MS, stop);
        NoteReply(result.LastReply, reply.data(), count);
        if (count != BOOT_HEADER_LENGTH) continue;
        const BootPacket header = *ReadBootHeader(reply);
        if (header.PacketLength != BOOT_HEADER_LENGTH ||
            header.HeaderLength != BOOT_HEADER_LENGTH || header.Sector != sector ||
            (address && header.Address != *address))
            return result;
        result.DeviceStatus = header.Status();
        result.Protected = header.Status() == STATUS_SECTOR_PROTECTED;
        result.Success = header.Status() == STATUS_ACCEPTED || result.Protected;
        return result;
    }
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
    if (!AcceptedQueryReply(buffer.data(), count)) return result;
    result.Accepted = true;
    result.Text = PayloadText(buffer.data(), count);
    return result;
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
        ChannelSend(device, TEXT_READ_VERSION.data(),
                    static_cast<uint32_t>(TEXT_READ_VERSION.size()));
        const uint32_t count =
            ChannelRead(device, buffer.data(), APP_VERSION_CAPACITY, APP_VERSION_TIMEOUT_MS, stop);
        NoteReply(result.LastReply, buffer.data(), count);
        if (count < APP_VERSION_MIN_REPLY) continue;
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
    if (!ChannelSend(device, TEXT_START_BOOT_LOADER.data(),
                     static_cast<uint32_t>(TEXT_START_BOOT_LOADER.size()))) {
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
