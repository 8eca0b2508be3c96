#pragma once
// The wire formats of the devices and every exchange the loader makes with them. In bootloader mode
// a device takes binary packets (a 14-byte little-endian header, an optional payload, a 16-bit
// checksum); in application mode it takes two plain-text commands. Exchanges run on worker threads
// with an open channel; none of them logs, raises or touches a widget: the callers do that. Every
// reply is bounds-checked, since a device may send anything.

#include "devices/Channel.h"
#include "devices/Checksum.h"
#include "devices/Structs.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// ---- Packet layout ----
inline constexpr uint16_t BOOT_HEADER_LENGTH = 14;
inline constexpr uint16_t WRITE_PART_SIZE = 512;
inline constexpr uint16_t WRITE_PART_PACKET_LENGTH = BOOT_HEADER_LENGTH + WRITE_PART_SIZE;  // 526
inline constexpr uint16_t NO_SECTOR = 10;  // Sector of every request that names no sector

// ---- Command codes (3, 8 and 9 are never sent) ----
inline constexpr uint16_t CMD_ERASE_SECTOR_V1 = 1;
inline constexpr uint16_t CMD_WRITE_PART_V1 = 2;
inline constexpr uint16_t CMD_READ_FIRMWARE_VERSION = 4;
inline constexpr uint16_t CMD_READ_BOOT_VERSION = 5;
inline constexpr uint16_t CMD_ERASE_SECTOR_V2 = 6;
inline constexpr uint16_t CMD_WRITE_PART_V2 = 7;
inline constexpr uint16_t CMD_READ_PROCESSOR_ID = 10;
inline constexpr uint16_t CMD_FINISH = 11;
inline constexpr uint16_t CMD_ABORT = 12;
inline constexpr uint16_t CMD_START_APPLICATION = 13;

// ---- Status codes ----
inline constexpr uint16_t STATUS_ACCEPTED = 128;
inline constexpr uint16_t STATUS_SECTOR_PROTECTED = 131;
inline constexpr uint16_t STATUS_DEVICE_LOCKED = 138;

// ---- Read limits and time-outs ----
inline constexpr uint32_t QUERY_REPLY_CAPACITY = 1024;
inline constexpr uint32_t VERSION_QUERY_TIMEOUT_MS = 100;
inline constexpr uint32_t PROCESSOR_ID_TIMEOUT_MS = 500;
inline constexpr uint32_t SECTOR_REPLY_TIMEOUT_MS = 1000;
inline constexpr int SECTOR_EXCHANGE_ATTEMPTS = 3;
inline constexpr uint32_t CONTROL_REPLY_TIMEOUT_MS = 100;
inline constexpr uint32_t APP_VERSION_CAPACITY = 100;
inline constexpr uint32_t APP_VERSION_TIMEOUT_MS = 2000;
inline constexpr int APP_VERSION_ATTEMPTS = 4;
inline constexpr uint32_t APP_VERSION_MIN_REPLY = 8;
inline constexpr uint32_t START_BOOT_CAPACITY = 1024;
inline constexpr uint32_t START_BOOT_TIMEOUT_MS = 1000;

// ---- Text commands of application mode (no terminator, no line end, no checksum) ----
inline constexpr std::string_view TEXT_READ_VERSION = "FL_READ_VERSION$";
inline constexpr std::string_view TEXT_START_BOOT_LOADER = "START_BOOT_LOADER";
inline constexpr std::string_view REPLY_STARTED = "STARTED";
inline constexpr std::string_view REPLY_START_ERROR = "START ERROR";

// Processors whose bootloaders all take the second command set (6 and 7).
inline constexpr std::array<uint32_t, 13> V2_PROCESSOR_IDS = {
    0x10040204, 0x25011723, 0x25013F37, 0x25113737, 0x26012837, 0x26013733, 0x26013F33,
    0x26013F37, 0x26113F37, 0x27193F47, 0x400FE000, 0x47193F47, 0x481D3F47};

// The header fields of a packet. In a reply the Command field carries the Status.
struct BootPacket {
    uint16_t PacketLength = 0;
    uint16_t HeaderLength = 0;
    uint16_t Command = 0;
    uint16_t Sector = 0;
    uint32_t Address = 0;
    uint16_t Checksum = 0;
    uint16_t Status() const { return Command; }
};

// A request: header, payload, and the checksum over all of it computed with Checksum 0.
std::vector<uint8_t> BuildBootPacket(uint16_t command, uint16_t sector, uint32_t address,
                                     std::span<const uint8_t> payload = {});
// The header fields of the first 14 bytes; nullopt when fewer are given.
std::optional<BootPacket> ReadBootHeader(std::span<const uint8_t> bytes);

// The command set rule: the second set for the processors of V2_PROCESSOR_IDS, and for any other
// processor when the firmware image's family is "GXLV" and the bootloader is 1.04 or newer.
bool UsesSecondCommandSet(uint32_t processorId, uint16_t bootloaderNumber,
                          std::string_view imageName);
uint16_t EraseSectorCommand(uint32_t processorId, uint16_t bootloaderNumber,
                            std::string_view imageName);
uint16_t WritePartCommand(uint32_t processorId, uint16_t bootloaderNumber,
                          std::string_view imageName);

// The status of the last reply of an exchange that had at least 14 bytes and HeaderLength 14;
// empty when none had. Discovery reports it.
using ReplyCode = std::optional<uint16_t>;

// ---- Queries (commands 4, 5 and 10) ----
// The reply buffer of the queries. Commands 4 and 5 zero it first; the processor-ID query that
// follows the command 5 query in an identification reuses it as that query left it.
using QueryReplyBuffer = std::array<uint8_t, QUERY_REPLY_CAPACITY>;

struct QueryVersionResult {
    bool Accepted = false;
    std::string Text;  // the version text from offset 14 up to a zero byte or the bytes' end
    ReplyCode LastReply;
    // The reply may still be on its way: less than a header came, or fewer bytes than its
    // PacketLength says.
    bool ReplyOwed = false;
};
// command: CMD_READ_FIRMWARE_VERSION or CMD_READ_BOOT_VERSION. One attempt, 100 ms.
QueryVersionResult QueryVersion(TDevEntry& device, uint16_t command, QueryReplyBuffer& buffer);
// Waits one query time-out (100 ms; the vendor library's own wait) for what a query still owes
// and drops it, so that the next request's read does not take it for its answer (a late version
// text read as the processor identifier's reply).
// Returns the status of what came, when it looked like a packet.
ReplyCode DropOwedQueryReply(TDevEntry& device);

enum class ProcessorIdOutcome {
    NotSent,  // the send failed
    NoReply,  // fewer than 14 bytes
    Refused,  // 14 bytes or more that fail the test, or too few to hold the identifier
    Accepted,
};
struct ProcessorIdResult {
    ProcessorIdOutcome Outcome = ProcessorIdOutcome::NotSent;
    uint32_t ProcessorId = 0;  // set when accepted
    ReplyCode LastReply;
};
// Command 10: one attempt, 500 ms, into buffer without clearing it first. The identifier sits at
// offsets 14..17: a reply that passes the header test but brought fewer than 18 bytes is refused,
// so a stale identifier left in the reused buffer is never taken.
ProcessorIdResult QueryProcessorId(TDevEntry& device, QueryReplyBuffer& buffer);

// ---- Erase and write-part ----
// The 14-byte reply buffer of the write-part exchange: the same buffer serves all parts of a
// sector, and the caller's error message shows its fields as the last read left them.
using SectorReplyBuffer = std::array<uint8_t, BOOT_HEADER_LENGTH>;

struct SectorExchangeResult {
    bool Success = false;    // 128, or 131 with Protected set
    bool Protected = false;  // the device reported the sector protected
    // Status of the 14-byte reply that passed the header test (lengths and echo): the write
    // session's last device status. Empty when no reply did.
    std::optional<uint16_t> DeviceStatus;
    ReplyCode LastReply;
    // The exchange ended early because stop said so: no further attempt, no success.
    bool Stopped = false;
};
// command: 6 or 1. Up to 3 attempts of 1000 ms; an attempt is repeated only when the send failed
// or the read did not bring exactly 14 bytes. Before an attempt, what is queued is dropped and
// the rest of a reply that came in part is awaited; before the exchange returns, the replies still
// owed by its attempts are awaited (one reply time-out) and dropped, so its decision rests on a
// reply to this request and no later request is answered by one of this one's. stop, when given,
// is asked before every attempt, during the reads and at the end: true ends the exchange at once
// as stopped, never as a success or a failure (a session that was asked to stop).
SectorExchangeResult EraseSectorExchange(TDevEntry& device, uint16_t command, uint16_t sector,
                                         uint32_t address, const ChannelStop& stop = {});
// command: 7 or 2. The 526-byte packet carries the 512 data bytes; attempts as for erase; the
// reply must also repeat Address.
SectorExchangeResult WritePartExchange(TDevEntry& device, uint16_t command, uint16_t sector,
                                       uint32_t address,
                                       std::span<const uint8_t, WRITE_PART_SIZE> data,
                                       SectorReplyBuffer& reply, const ChannelStop& stop = {});

// ---- Control commands (11, 12, 13): one attempt; the reply is read and not examined ----
// stop, when given, cuts the wait for the reply short; the command itself is always sent.
ReplyCode SendControlCommand(TDevEntry& device, uint16_t command, const ChannelStop& stop = {});

// ---- Application mode ----
struct AppVersionResult {
    bool Success = false;
    ReplyCode LastReply;
};
// "FL_READ_VERSION$", up to 4 attempts of 2000 ms; a reply of 8 bytes or more is parsed into the
// device's FirmwareVersion and succeeds when its Number is not 0. A reply that is a bootloader
// packet (HeaderLength 14 where a text has two letters) answers an earlier packet request, not this
// text, and fails the attempt. stop, when given, is asked before
// every attempt and during the reads: true ends the exchange, unsuccessful.
AppVersionResult ReadApplicationVersion(TDevEntry& device, const ChannelStop& stop = {});

enum class StartBootloaderOutcome { SendFailed, NoReply, Started, StartError, OtherReply };
struct StartBootloaderResult {
    StartBootloaderOutcome Outcome = StartBootloaderOutcome::SendFailed;
    // The bytes received up to the first zero byte, as the device's reply is shown; set for every
    // outcome that received something.
    std::string Text;
    ReplyCode LastReply;
};
// "START_BOOT_LOADER", one attempt of 1000 ms.
StartBootloaderResult StartBootloaderExchange(TDevEntry& device);
