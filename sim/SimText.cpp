#include "sim/SimText.h"

#include <cstdio>

namespace gxsim {

std::string Escape(std::string_view text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool innerBlank = c == ' ' && i > 0 && i + 1 < text.size();
        if (c == '\\') {
            out += "\\\\";
        } else if ((c > 0x20 && c < 0x7F) || innerBlank) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

std::optional<std::string> Unescape(std::string_view text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i >= text.size()) return std::nullopt;
        switch (text[i]) {
            case '\\':
                out += '\\';
                break;
            case '0':
                out += '\0';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'x': {
                if (i + 2 >= text.size()) return std::nullopt;
                const auto value = ParseNumber("0x" + std::string(text.substr(i + 1, 2)), 0xFF);
                if (!value) return std::nullopt;
                out += static_cast<char>(*value);
                i += 2;
                break;
            }
            default:
                return std::nullopt;
        }
    }
    return out;
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> SplitWords(std::string_view text)
{
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        const size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t') ++i;
        if (i > start) words.push_back(text.substr(start, i - start));
    }
    return words;
}

std::optional<uint64_t> ParseNumber(std::string_view text, uint64_t max)
{
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 20) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return std::nullopt;
        if (value > (max - digit) / base) return std::nullopt;
        value = value * base + digit;
    }
    return value;
}

std::optional<bool> ParseBool(std::string_view text)
{
    if (text == "yes" || text == "1" || text == "true" || text == "on") return true;
    if (text == "no" || text == "0" || text == "false" || text == "off") return false;
    return std::nullopt;
}

std::string Hex32(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

}  // namespace gxsim
