#include "app/LogFormat.h"

#include "app/Language.h"

#include <algorithm>

namespace {
struct Field {
    bool left = false;   // '-'
    bool plus = false;   // '+'
    bool blank = false;  // ' '
    bool zero = false;   // '0'
    int width = 0;
    int precision = -1;  // -1: none given
};

// Pads body (sign already in front) to the width as printf does.
QString Pad(const QString& sign, const QString& digits, const Field& field, bool numeric)
{
    QString body = sign + digits;
    const qsizetype missing = field.width - body.size();
    if (missing <= 0) return body;
    if (field.left) return body + QString(missing, QLatin1Char(' '));
    // '0' pads between the sign and the digits; it is ignored with a precision or for texts.
    if (numeric && field.zero && field.precision < 0)
        return sign + QString(missing, QLatin1Char('0')) + digits;
    return QString(missing, QLatin1Char(' ')) + body;
}

QString FormatNumber(QChar conversion, uint32_t bits, const Field& field)
{
    QString sign;
    QString digits;
    switch (conversion.unicode()) {
        case 'd':
        case 'i': {
            const int64_t value = static_cast<int32_t>(bits);
            if (value < 0)
                sign = QStringLiteral("-");
            else if (field.plus)
                sign = QStringLiteral("+");
            else if (field.blank)
                sign = QStringLiteral(" ");
            digits = QString::number(value < 0 ? -value : value);
            break;
        }
        case 'u':
            digits = QString::number(bits);
            break;
        case 'x':
            digits = QString::number(bits, 16);
            break;
        default:
            digits = QString::number(bits, 16).toUpper();
            break;  // 'X'
    }
    if (field.precision >= 0) {
        if (field.precision == 0 && bits == 0) digits.clear();
        if (digits.size() < field.precision)
            digits.prepend(QString(field.precision - digits.size(), QLatin1Char('0')));
    }
    return Pad(sign, digits, field, true);
}
}  // namespace

uint32_t LogKindRgb(int kind)
{
    switch (kind) {
        case Error:
            return 0xFF0000;
        case Success:
            return 0x008000;
        default:
            return 0x000000;
    }
}

QString FormatLogText(const QString& format, std::initializer_list<LogArg> args)
{
    QString out;
    out.reserve(format.size() + 16);
    const LogArg* next = args.begin();
    const qsizetype n = format.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = format[i];
        if (c != QLatin1Char('%')) {
            out += c;
            continue;
        }
        const qsizetype start = i++;
        Field field;
        for (; i < n; ++i) {
            const char16_t f = format[i].unicode();
            if (f == '-')
                field.left = true;
            else if (f == '+')
                field.plus = true;
            else if (f == ' ')
                field.blank = true;
            else if (f == '0')
                field.zero = true;
            else
                break;
        }
        // Widths and precisions are capped: no catalogue text comes near, and a corrupt format
        // must not ask for gigabytes.
        for (; i < n && format[i].isDigit(); ++i)
            field.width = std::min(field.width * 10 + format[i].digitValue(), 9999);
        if (i < n && format[i] == QLatin1Char('.')) {
            field.precision = 0;
            for (++i; i < n && format[i].isDigit(); ++i)
                field.precision = std::min(field.precision * 10 + format[i].digitValue(), 9999);
        }
        if (i >= n) {  // a lone '%' at the end stays as written
            out += format.mid(start);
            break;
        }
        const QChar conversion = format[i];
        switch (conversion.unicode()) {
            case '%':
                out += QLatin1Char('%');
                break;
            case 'd':
            case 'i':
            case 'u':
            case 'x':
            case 'X':
            case 's': {
                const LogArg* arg = next != args.end() ? next++ : nullptr;
                if (conversion == QLatin1Char('s') || (arg && arg->IsText())) {
                    QString text;
                    if (arg)
                        text = arg->IsText() ? arg->Text()
                                             : QString::number(static_cast<int32_t>(arg->Bits()));
                    if (field.precision >= 0 && text.size() > field.precision)
                        text.truncate(field.precision);
                    out += Pad(QString(), text, field, false);
                } else {
                    out += FormatNumber(conversion, arg ? arg->Bits() : 0, field);
                }
                break;
            }
            default:
                out += format.mid(start, i - start + 1);
                break;
        }
    }
    return out;
}

QString FormatLogTextInto(qsizetype capacity, const QString& format,
                          std::initializer_list<LogArg> args)
{
    QString text = FormatLogText(format, args);
    if (capacity < 1) capacity = 1;
    if (text.size() > capacity - 1) {
        text.truncate(capacity - 1);
        if (!text.isEmpty() && text.back().isHighSurrogate()) text.chop(1);  // no half character
    }
    return text;
}

QString LogLinePrefix(int32_t device)
{
    if (device == 0) return Msg(4);
    return FormatLogText(Msg(3), {device});
}
