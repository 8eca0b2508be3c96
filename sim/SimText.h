#pragma once
// Small text helpers of the simulator's state files.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gxsim {

// Values are kept printable: a backslash becomes \\, bytes outside 0x21..0x7E become \xHH
// (inner blanks stay as they are).
std::string Escape(std::string_view text);
// The reverse; also understands \0, \n, \r, \t. nullopt for a malformed escape.
std::optional<std::string> Unescape(std::string_view text);

std::string_view Trim(std::string_view text);
std::vector<std::string_view> SplitWords(std::string_view text);

// Decimal, or hexadecimal with 0x. nullopt when the text is not entirely a number in range.
std::optional<uint64_t> ParseNumber(std::string_view text, uint64_t max);
std::optional<bool> ParseBool(std::string_view text);
std::string Hex32(uint32_t value);  // 0x0000ABCD

}  // namespace gxsim
