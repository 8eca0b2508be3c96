#include "devices/Structs.h"

#include "devices/ScanInts.h"

#include <cstdint>

void ResetVersion(TFirmwareVersion& version)
{
    version.Name.clear();
    version.Suffix.clear();
    version.Date = 0;
    version.Number = 0;
}

bool ParseVersion(TFirmwareVersion& version, std::string_view text)
{
    text = text.substr(0, text.find('\0'));
    if (text == "Unknown") {
        version.Name = "unk";
        version.Number = 1;
        return true;
    }
    const size_t dash = text.find('-');
    version.Name =
        dash == std::string_view::npos ? std::string() : std::string(text.substr(0, dash));
    const std::string_view rest = dash == std::string_view::npos ? text : text.substr(dash + 1);
    if (version.Name.empty()) return false;

    int numbers[2];
    if (ScanInts(rest, "%d.%d", numbers, 2) != 2) return false;
    version.Number = static_cast<uint16_t>(static_cast<uint32_t>(numbers[0]) * 100u +
                                           static_cast<uint32_t>(numbers[1]));

    size_t start = 0;
    while (start < rest.size() &&
           ((rest[start] >= '0' && rest[start] <= '9') || rest[start] == '.'))
        ++start;
    if (start < rest.size()) {
        // Trim characters at or below the blank from both ends.
        size_t first = start, last = rest.size();
        while (first < last && static_cast<unsigned char>(rest[first]) <= ' ') ++first;
        while (last > first && static_cast<unsigned char>(rest[last - 1]) <= ' ') --last;
        version.Suffix = std::string(rest.substr(first, last - first));
    }
    return true;
}

int32_t SerialFromText(std::string_view text)
{
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i >= text.size()) return -1;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        value = value * 10 + (text[i] - '0');
        if (value > INT64_C(2147483648)) return -1;
    }
    value = negative ? -value : value;
    if (value > INT32_MAX || value < INT32_MIN) return -1;
    return static_cast<int32_t>(value);
}

TDevEntry::TDevEntry(std::string_view serialText, uint16_t deviceCode, int32_t driverKind)
    : SerialNumber(SerialFromText(serialText)),
      SerialText(serialText),
      DeviceCode(deviceCode),
      DriverKind(driverKind)
{
}
