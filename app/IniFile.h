#pragma once
// A Windows INI file, read and written key by key the way the system's profile functions do it:
// every write goes to the file at once and creates the file, the section and the key when
// missing; keys that are not written stay as they stand; section and key names match without
// regard to letter case; keys are listed in the order in which they stand in the file; values are
// written as given, unquoted (one pair of matching quotes around a value is dropped on reading).
//
// Written here rather than taken from a library: QSettings reorders keys and quotes values, and
// GKeyFile and the INI readers in Debian compare names with letter case and treat backslashes in
// values as escapes, which breaks Windows paths.
//
// Text: a file that starts with the UTF-16LE byte-order mark is read and written back as UTF-16LE
// with the mark; any other file is read as UTF-8 (a UTF-8 mark is kept), or as Windows-1251 when
// it is not valid UTF-8 (as a file left by an older copy on Windows may be), and written back as
// UTF-8 without a mark. Lines end as they do in the file; a new file gets LF.

#include <QString>
#include <QStringList>

class IniFile {
public:
    // Reads the file now; a missing or unreadable file reads as empty.
    explicit IniFile(QString path);

    const QString& Path() const { return path_; }

    QString ReadString(const QString& section, const QString& key,
                       const QString& defaultValue) const;
    bool HasKey(const QString& section, const QString& key) const;
    // The key names of the first section of that name, in file order, repeats included.
    QStringList KeyNames(const QString& section) const;

    // Writes one key into the file before returning. The file is replaced by a complete new copy
    // written beside it, with the old one's permissions, so a failed write leaves the old file
    // whole; where only the folder refuses new files, the file is rewritten in place. Raises
    // LoaderError "Unable to write to <path>" when the system refuses the write.
    void WriteString(const QString& section, const QString& key, const QString& value);

private:
    enum class Encoding { Utf8, Utf8Bom, Utf16Le };
    struct Found {
        qsizetype header = -1;  // line of the section's header; -1 when there is none
        qsizetype end = -1;     // one past the section's last line
        qsizetype key = -1;     // line of the key; -1 when the section does not have it
    };

    bool Load();  // false when the file exists but cannot be read
    Found Find(const QString& section, const QString& key) const;
    [[noreturn]] void Refused() const;

    QString path_;
    QStringList lines_;
    Encoding encoding_ = Encoding::Utf8;
    QString lineEnd_ = QStringLiteral("\n");
};
