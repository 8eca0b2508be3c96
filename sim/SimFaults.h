#pragma once
// Fault rules: how a simulated device or its cable misbehaves, per command and per attempt.
//
// A rule is a line of words: effects and selectors, e.g. "short:13 cmd=6 attempt=1".
// Selectors (all optional; a rule without them applies to every request):
//   cmd=N | cmd=read_version | cmd=start_boot   the packet command N, or a text command
//   attempt=N | attempt=N-M                     the N-th identical request in a row (1 = first)
//   sector=N                                    the request's Sector field
// Reply effects (applied to the reply the device would send):
//   silent            no reply at all
//   delay:MS          the reply comes MS milliseconds late
//   split:N[:MS]      the first N bytes come at once, the rest MS ms later (default 100)
//   short:N           only the first N bytes of the reply
//   pad:N             N extra bytes (0xEE) after the reply
//   wrong_sector      the reply repeats Sector + 1
//   wrong_address     the reply repeats Address + 512
//   status:N          the reply carries status N
//   packet_length:N   the reply's PacketLength field is N
//   header_length:N   the reply's HeaderLength field is N
//   bad_checksum      the reply's checksum is wrong
//   reply:TEXT        the reply is TEXT instead (\xHH, \0, \\ escapes; no blanks, use \x20)
// Request effects:
//   corrupt_request   the device finds the request's checksum wrong (and refuses it)
//   short_write:N     the driver's write call reports N bytes written; the device gets those N
//   write_fail        the driver's write call fails; the device gets nothing

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace gxsim {

inline constexpr int kAnyCommand = -1;
inline constexpr int kReadVersionCommand = -2;  // "FL_READ_VERSION$"
inline constexpr int kStartBootCommand = -3;    // "START_BOOT_LOADER"

struct RequestKey {
    int Command = kAnyCommand;  // kAnyCommand: not known yet
    int Sector = -1;
    uint32_t Address = 0;
    bool operator==(const RequestKey&) const = default;
};

struct FaultRule {
    int Command = kAnyCommand;
    uint32_t AttemptFrom = 1;
    uint32_t AttemptTo = UINT32_MAX;
    int Sector = -1;

    bool Silent = false;
    uint32_t DelayMs = 0;
    std::optional<uint32_t> SplitAt;
    uint32_t SplitGapMs = 100;
    std::optional<uint32_t> ShortTo;
    uint32_t Pad = 0;
    bool WrongSector = false;
    bool WrongAddress = false;
    std::optional<uint16_t> Status;
    std::optional<uint16_t> PacketLength;
    std::optional<uint16_t> HeaderLength;
    bool BadChecksum = false;
    std::optional<std::string> Reply;
    bool CorruptRequest = false;
    std::optional<uint32_t> ShortWrite;
    bool WriteFail = false;

    bool Matches(const RequestKey& key, uint32_t attempt) const;
};

// nullopt with error set when the text is not a rule.
std::optional<FaultRule> ParseFaultRule(std::string_view text, std::string& error);

}  // namespace gxsim
