#include "devices/ScanInts.h"

#include <cctype>
#include <climits>
#include <cstdint>

namespace {
bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

int ScanInts(std::string_view text, std::string_view format, int* out, int capacity)
{
    size_t t = 0;
    int stored = 0;
    for (size_t f = 0; f < format.size(); ++f) {
        const char fc = format[f];
        if (fc == '%' && f + 1 < format.size() && format[f + 1] == 'd') {
            ++f;
            while (t < text.size() && IsSpace(text[t])) ++t;
            size_t p = t;
            bool negative = false;
            if (p < text.size() && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
            if (p >= text.size() || !IsDigit(text[p])) return stored;
            int64_t value = 0;
            for (; p < text.size() && IsDigit(text[p]); ++p)
                if (value <= INT64_C(1) << 40) value = value * 10 + (text[p] - '0');
            value = negative ? -value : value;
            if (value > INT_MAX) value = INT_MAX;
            if (value < INT_MIN) value = INT_MIN;
            if (stored >= capacity) return stored;
            out[stored++] = static_cast<int>(value);
            t = p;
        } else if (IsSpace(fc)) {
            while (t < text.size() && IsSpace(text[t])) ++t;
        } else {
            if (t >= text.size() || text[t] != fc) return stored;
            ++t;
        }
    }
    return stored;
}
