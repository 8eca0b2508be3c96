#include "sim/SimFaults.h"

#include "sim/SimText.h"

namespace gxsim {

bool FaultRule::Matches(const RequestKey& key, uint32_t attempt) const
{
    if (Command != kAnyCommand && Command != key.Command) return false;
    if (Sector >= 0 && Sector != key.Sector) return false;
    return attempt >= AttemptFrom && attempt <= AttemptTo;
}

std::optional<FaultRule> ParseFaultRule(std::string_view text, std::string& error)
{
    FaultRule rule;
    bool any = false;
    for (std::string_view word : SplitWords(text)) {
        any = true;
        const size_t eq = word.find('=');
        const size_t colon = word.find(':');
        const bool selector =
            eq != std::string_view::npos && (colon == std::string_view::npos || eq < colon);
        const std::string_view name =
            word.substr(0, selector ? eq : (colon == std::string_view::npos ? word.size() : colon));
        const std::string_view arg =
            selector
                ? word.substr(eq + 1)
                : (colon == std::string_view::npos ? std::string_view() : word.substr(colon + 1));
        auto number = [&](uint64_t max) -> std::optional<uint64_t> {
            auto v = ParseNumber(arg, max);
            if (!v) error = "bad number in '" + std::string(word) + "'";
            return v;
        };
        if (selector) {
            if (name == "cmd") {
                if (arg == "read_version")
                    rule.Command = kReadVersionCommand;
                else if (arg == "start_boot")
                    rule.Command = kStartBootCommand;
                else if (arg == "any")
                    rule.Command = kAnyCommand;
                else if (auto v = number(0xFFFF))
                    rule.Command = static_cast<int>(*v);
                else
                    return std::nullopt;
            } else if (name == "attempt") {
                const size_t dash = arg.find('-');
                auto from = ParseNumber(arg.substr(0, dash), UINT32_MAX);
                auto to = dash == std::string_view::npos
                              ? from
                              : ParseNumber(arg.substr(dash + 1), UINT32_MAX);
                if (!from || !to || *from == 0 || *to < *from) {
                    error = "bad attempt range '" + std::string(word) + "'";
                    return std::nullopt;
                }
                rule.AttemptFrom = static_cast<uint32_t>(*from);
                rule.AttemptTo = static_cast<uint32_t>(*to);
            } else if (name == "sector") {
                auto v = number(0xFFFF);
                if (!v) return std::nullopt;
                rule.Sector = static_cast<int>(*v);
            } else {
                error = "unknown selector '" + std::string(name) + "'";
                return std::nullopt;
            }
            continue;
        }
        const bool hasArg = colon != std::string_view::npos;
        auto needArg = [&]() {
            if (!hasArg) error = "'" + std::string(name) + "' needs a value";
            return hasArg;
        };
        auto noArg = [&]() {
            if (hasArg) error = "'" + std::string(name) + "' takes no value";
            return !hasArg;
        };
        if (name == "silent") {
            if (!noArg()) return std::nullopt;
            rule.Silent = true;
        } else if (name == "delay") {
            if (!needArg()) return std::nullopt;
            auto v = number(600000);
            if (!v) return std::nullopt;
            rule.DelayMs = static_cast<uint32_t>(*v);
        } else if (name == "split") {
            if (!needArg()) return std::nullopt;
            const size_t second = arg.find(':');
            auto at = ParseNumber(arg.substr(0, second), 65535);
            auto gap = second == std::string_view::npos
                           ? std::optional<uint64_t>(100)
                           : ParseNumber(arg.substr(second + 1), 600000);
            if (!at || !gap) {
                error = "bad split '" + std::string(word) + "'";
                return std::nullopt;
            }
            rule.SplitAt = static_cast<uint32_t>(*at);
            rule.SplitGapMs = static_cast<uint32_t>(*gap);
        } else if (name == "short") {
            if (!needArg()) return std::nullopt;
            auto v = number(65535);
            if (!v) return std::nullopt;
            rule.ShortTo = static_cast<uint32_t>(*v);
        } else if (name == "pad") {
            if (!needArg()) return std::nullopt;
            auto v = number(65535);
            if (!v) return std::nullopt;
            rule.Pad = static_cast<uint32_t>(*v);
        } else if (name == "wrong_sector") {
            if (!noArg()) return std::nullopt;
            rule.WrongSector = true;
        } else if (name == "wrong_address") {
            if (!noArg()) return std::nullopt;
            rule.WrongAddress = true;
        } else if (name == "status" || name == "packet_length" || name == "header_length") {
            if (!needArg()) return std::nullopt;
            auto v = number(0xFFFF);
            if (!v) return std::nullopt;
            (name == "status"          ? rule.Status
             : name == "packet_length" ? rule.PacketLength
                                       : rule.HeaderLength) = static_cast<uint16_t>(*v);
        } else if (name == "bad_checksum") {
            if (!noArg()) return std::nullopt;
            rule.BadChecksum = true;
        } else if (name == "reply") {
            if (!needArg()) return std::nullopt;
            auto text = Unescape(arg);
            if (!text) {
                error = "bad escape in '" + std::string(word) + "'";
                return std::nullopt;
            }
            rule.Reply = *text;
        } else if (name == "corrupt_request") {
            if (!noArg()) return std::nullopt;
            rule.CorruptRequest = true;
        } else if (name == "short_write") {
            if (!needArg()) return std::nullopt;
            auto v = number(UINT32_MAX);
            if (!v) return std::nullopt;
            rule.ShortWrite = static_cast<uint32_t>(*v);
        } else if (name == "write_fail") {
            if (!noArg()) return std::nullopt;
            rule.WriteFail = true;
        } else {
            error = "unknown effect '" + std::string(name) + "'";
            return std::nullopt;
        }
    }
    if (!any) {
        error = "empty fault rule";
        return std::nullopt;
    }
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) {
            error = "a fault rule is printable text on one line";
            return std::nullopt;
        }
    }
    return rule;
}

}  // namespace gxsim
