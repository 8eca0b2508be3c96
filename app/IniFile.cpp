#include "app/IniFile.h"

#include "app/LoaderError.h"
#include "devices/Text8.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

namespace {
bool SameName(const QString& a, const QString& b)
{
    return QString::compare(a, b, Qt::CaseInsensitive) == 0;
}

// The name of a section header line ("[name]", blanks around the name ignored).
bool HeaderName(const QString& line, QString* name)
{
    const QString t = line.trimmed();
    if (!t.startsWith(QLatin1Char('['))) return false;
    const qsizetype close = t.indexOf(QLatin1Char(']'));
    *name = (close < 0 ? t.mid(1) : t.mid(1, close - 1)).trimmed();
    return true;
}

// A "key=value" line; blanks around the key and the value do not count. Comments (';') and lines
// without '=' are no keys; they stay in the file untouched.
bool KeyLine(const QString& line, QString* key, QString* value = nullptr)
{
    const QString t = line.trimmed();
    if (t.isEmpty() || t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('[')))
        return false;
    const qsizetype eq = t.indexOf(QLatin1Char('='));
    if (eq < 0) return false;
    *key = t.left(eq).trimmed();
    if (value) {
        QString v = t.mid(eq + 1).trimmed();
        if (v.size() >= 2 && (v.front() == QLatin1Char('"') || v.front() == QLatin1Char('\'')) &&
            v.back() == v.front())
            v = v.mid(1, v.size() - 2);
        *value = v;
    }
    return true;
}

QByteArray Utf16LeBytes(const QString& text)
{
    QByteArray out;
    out.reserve(2 + text.size() * 2);
    out.append("\xFF\xFE", 2);
    for (const QChar c : text) {
        out.append(static_cast<char>(c.unicode() & 0xFF));
        out.append(static_cast<char>(c.unicode() >> 8));
    }
    return out;
}
}  // namespace

IniFile::IniFile(QString path) : path_(std::move(path))
{
    Load();
}

bool IniFile::Load()
{
    lines_.clear();
    encoding_ = Encoding::Utf8;
    lineEnd_ = QStringLiteral("\n");
    QFile file(path_);
    if (!file.exists()) return true;
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) return false;

    // The one mark is taken off here; a second one after it is text and stays, as the rewrite
    // puts back exactly one mark (the decoders would otherwise drop it, and every rewrite would
    // lose one more).
    QString text;
    if (bytes.startsWith("\xFF\xFE")) {
        encoding_ = Encoding::Utf16Le;
        QStringDecoder decode(QStringConverter::Utf16LE, QStringConverter::Flag::ConvertInitialBom);
        text = decode(QByteArrayView(bytes).sliced(2));
    } else if (bytes.startsWith("\xEF\xBB\xBF")) {
        encoding_ = Encoding::Utf8Bom;
        // Stateless: a sequence cut off at the end reads as a replacement character.
        QStringDecoder decode(
            QStringConverter::Utf8,
            QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
        text = decode(QByteArrayView(bytes).sliced(3));
    } else {
        QStringDecoder decode(QStringConverter::Utf8);
        text = decode(bytes);
        if (decode.hasError())
            text = DecodeText8(std::string_view(bytes.constData(), bytes.size()));
    }
    if (text.contains(QStringLiteral("\r\n"))) lineEnd_ = QStringLiteral("\r\n");
    lines_ = text.split(QLatin1Char('\n'));
    for (QString& line : lines_)
        if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
    if (!lines_.isEmpty() && lines_.last().isEmpty()) lines_.removeLast();  // the final line end
    return true;
}

IniFile::Found IniFile::Find(const QString& section, const QString& key) const
{
    Found found;
    QString name;
    for (qsizetype i = 0; i < lines_.size(); ++i) {
        if (HeaderName(lines_[i], &name)) {
            if (found.header >= 0) {
                found.end = i;
                return found;
            }
            if (SameName(name, section)) found.header = i;
            continue;
        }
        if (found.header >= 0 && found.key < 0 && KeyLine(lines_[i], &name) && SameName(name, key))
            found.key = i;
    }
    if (found.header >= 0) found.end = lines_.size();
    return found;
}

QString IniFile::ReadString(const QString& section, const QString& key,
                            const QString& defaultValue) const
{
    const Found found = Find(section, key);
    if (found.key < 0) return defaultValue;
    QString name, value;
    KeyLine(lines_[found.key], &name, &value);
    return value;
}

bool IniFile::HasKey(const QString& section, const QString& key) const
{
    return Find(section, key).key >= 0;
}

QStringList IniFile::KeyNames(const QString& section) const
{
    const Found found = Find(section, QString());
    QStringList names;
    QString name;
    for (qsizetype i = found.header + 1; found.header >= 0 && i < found.end; ++i)
        if (KeyLine(lines_[i], &name)) names << name;
    return names;
}

void IniFile::WriteString(const QString& section, const QString& key, const QString& value)
{
    // Read again first: the write changes this one key of the file as it stands now. A file that
    // exists but cannot be read is not replaced by one that holds only this key.
    if (!Load()) Refused();

    QString flat = value;  // a line break would end the value and start a stray line
    flat.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QString line = key + QLatin1Char('=') + flat;

    const Found found = Find(section, key);
    if (found.header < 0) {
        lines_ << QLatin1Char('[') + section + QLatin1Char(']') << line;
    } else if (found.key >= 0) {
        lines_[found.key] = line;
    } else {
        // After the section's last line that is not blank, so blank lines that part it from the
        // next section stay below.
        qsizetype at = found.end;
        while (at > found.header + 1 && lines_[at - 1].trimmed().isEmpty()) --at;
        lines_.insert(at, line);
    }

    const QString text = lines_.join(lineEnd_) + lineEnd_;
    QByteArray bytes;
    switch (encoding_) {
        case Encoding::Utf16Le:
            bytes = Utf16LeBytes(text);
            break;
        case Encoding::Utf8Bom:
            bytes = QByteArray("\xEF\xBB\xBF") + text.toUtf8();
            break;
        case Encoding::Utf8:
            bytes = text.toUtf8();
            break;
    }
    QSaveFile out(path_);
    out.setDirectWriteFallback(true);
    // Unbuffered: a buffered QSaveFile loses a write error met while flushing at commit and then
    // renames a cut-short copy over the file; written directly, a short write shows here.
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) Refused();
    if (out.write(bytes) != bytes.size()) {
        out.cancelWriting();
        Refused();
    }
    if (!out.commit()) Refused();
}

void IniFile::Refused() const
{
    throw LoaderError(QStringLiteral("Unable to write to ") + QDir::toNativeSeparators(path_));
}
