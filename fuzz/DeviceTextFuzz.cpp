// The texts a device reports about itself: its version texts (the replies to commands 4 and 5,
// the application's "FL_READ_VERSION$" reply, an image's version text) and its serial number (a
// driver list's serial field), and the scanf-like reader under them. The input is the text.
//
// Checks: a recognised version names the family before the first '-' and keeps a trimmed suffix
// from the text; the serial rule agrees with an independent reading of a signed decimal; the
// reader stores no more numbers than it has room for and reads as the C library's sscanf does.

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzTargets.h"

#include "devices/ScanInts.h"
#include "devices/Structs.h"
#include "devices/Text8.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace {
bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The serial rule written out from its definition: an optional sign, then only digits, within
// the signed 32-bit range; -1 otherwise.
int64_t ReferenceSerial(std::string_view text)
{
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || !std::all_of(text.begin(), text.end(), IsDigit)) return -1;
    while (text.size() > 1 && text[0] == '0') text.remove_prefix(1);
    if (text.size() > 10) return -1;
    int64_t value = 0;
    for (char c : text) value = value * 10 + (c - '0');
    if (negative) value = -value;
    return value < INT32_MIN || value > INT32_MAX ? -1 : value;
}

bool TrimmedOfBlanks(std::string_view s)
{
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    return s.empty() || (!blank(s.front()) && !blank(s.back()));
}

void CheckVersion(std::string_view input)
{
    TFirmwareVersion version;
    const bool recognised = ParseVersion(version, input);
    const std::string_view text = input.substr(0, input.find('\0'));
    if (text == "Unknown") {
        GX_FUZZ_CHECK(recognised && version.Name == "unk" && version.Number == 1);
    } else if (recognised) {
        const size_t dash = text.find('-');
        GX_FUZZ_CHECK(dash != std::string_view::npos && dash > 0);
        GX_FUZZ_CHECK(version.Name == text.substr(0, dash));
        const std::string_view rest = text.substr(dash + 1);
        int numbers[2] = {0, 0};
        GX_FUZZ_CHECK(ScanInts(rest, "%d.%d", numbers, 2) == 2);
        GX_FUZZ_CHECK(version.Number ==
                      static_cast<uint16_t>(static_cast<uint32_t>(numbers[0]) * 100u +
                                            static_cast<uint32_t>(numbers[1])));
        GX_FUZZ_CHECK(TrimmedOfBlanks(version.Suffix));
        GX_FUZZ_CHECK(rest.find(version.Suffix) != std::string_view::npos);
    }
    // Shown in the device panel and the log whatever the device said.
    GX_FUZZ_CHECK(!FormatVersion(version).isEmpty());
    GX_FUZZ_CHECK(!FormatVersionDate(version).isEmpty());
}

// The C library as the reference, where it is well defined: no number beyond int's range.
bool NumbersFitInt(std::string_view text)
{
    size_t run = 0;
    for (char c : text) {
        run = IsDigit(c) ? run + 1 : 0;
        if (run > 9) return false;
    }
    return true;
}

void CheckScanInts(std::string_view text)
{
    // The formats the loader reads with: version numbers, the MainForm value, an image's date.
    static constexpr std::string_view kFormats[] = {"%d.%d", "%d,%d,%d,%d,%d,%d,%d,%d",
                                                    "%d.%d.%d %d:%d:%d"};
    constexpr int kUntouched = 0x5A5A5A5A;
    for (std::string_view format : kFormats) {
        const int fields = static_cast<int>(std::count(format.begin(), format.end(), '%'));
        for (int capacity = 0; capacity <= fields; ++capacity) {
            // Exactly capacity ints on the heap, so a store past them is seen.
            const auto out = std::make_unique<int[]>(static_cast<size_t>(capacity) + 1);
            std::fill_n(out.get(), capacity, kUntouched);
            const int stored = ScanInts(text, format, out.get(), capacity);
            GX_FUZZ_CHECK(stored >= 0 && stored <= capacity);
            for (int i = stored; i < capacity; ++i) GX_FUZZ_CHECK(out[i] == kUntouched);
        }
        if (text.find('\0') != std::string_view::npos || !NumbersFitInt(text)) continue;
        int ours[8] = {}, theirs[8] = {};
        const int stored = ScanInts(text, format, ours, fields);
        const std::string terminated(text);
        const std::string cformat(format);
        int expected =
            std::sscanf(terminated.c_str(), cformat.c_str(), &theirs[0], &theirs[1], &theirs[2],
                        &theirs[3], &theirs[4], &theirs[5], &theirs[6], &theirs[7]);
        if (expected < 0) expected = 0;  // EOF: nothing read
        GX_FUZZ_CHECK(stored == expected);
        for (int i = 0; i < stored; ++i) GX_FUZZ_CHECK(ours[i] == theirs[i]);
    }
}
}  // namespace

void FuzzDeviceText(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckVersion(text);
    GX_FUZZ_CHECK(SerialFromText(text) == ReferenceSerial(text));
    CheckScanInts(text);
    // Every byte of the code page has its own character and comes back unchanged.
    GX_FUZZ_CHECK(EncodeText8(DecodeText8(text)) == text);
}
