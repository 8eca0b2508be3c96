#pragma once
// Formatting of log lines: the printf-style catalogue texts and the device prefix. No widgets, so
// every layer can format what it logs and the rules are tested directly.

#include <QString>
#include <cstdint>
#include <initializer_list>
#include <type_traits>

enum LogKind : int { Normal = 0, Error = 1, Success = 2 };

// Colour of a kind as 0xRRGGBB: Error red, Success green, every other kind black. The same
// colours serve the log view and the status line of a device panel.
uint32_t LogKindRgb(int kind);

// One printf-style argument: a signed or unsigned 32-bit integer, or a wide text. Integers of
// other widths are taken as 32 bits, as a 32-bit printf would read them.
class LogArg {
public:
    LogArg(int v) : number_(static_cast<uint32_t>(v)) {}
    LogArg(unsigned v) : number_(v) {}
    template <class T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, int> && !std::is_same_v<T, unsigned>)
        LogArg(T v)
        : number_(static_cast<uint32_t>(v))
    {
    }
    LogArg(const QString& s) : text_(s), isText_(true) {}
    LogArg(const char16_t* s) : text_(QString::fromUtf16(s)), isText_(true) {}
    LogArg(const char* s) : text_(QString::fromUtf8(s)), isText_(true) {}

    bool IsText() const { return isText_; }
    const QString& Text() const { return text_; }
    uint32_t Bits() const { return number_; }

private:
    uint32_t number_ = 0;
    QString text_;
    bool isText_ = false;
};

// Formats a catalogue text: %d, %7d, % 6d, %08X, 0x%08X (the 0x is literal text), %s, %%; also
// %i, %u, %x, the flags '-', '+', '0', ' ', a width and a precision. A missing argument reads as
// 0 or an empty text, a text given for a number prints as the text, a number given for %s as
// its decimal value; an unknown conversion is copied as written.
QString FormatLogText(const QString& format, std::initializer_list<LogArg> args = {});

// FormatLogText into a buffer of capacity characters, terminating zero included: the text is
// cut to capacity - 1 characters. The window's entry points use (format length + 5000) and
// (format length + 2048).
QString FormatLogTextInto(qsizetype capacity, const QString& format,
                          std::initializer_list<LogArg> args = {});
inline constexpr qsizetype kLogBufferExtra = 5000;
inline constexpr qsizetype kDeviceLogBufferExtra = 2048;

// Message 3 with the device number, or message 4 for 0, in CurrentLanguage.
QString LogLinePrefix(int32_t device);
