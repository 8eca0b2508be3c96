// The event log: every line ends in AddLogLine on the window thread, which shows it in reLog and,
// while cbWritelogToFile is ticked, appends it to the daily file.

#include "app/LogFile.h"
#include "app/MainForm.h"

#include <QCoreApplication>
#include <QDir>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <cstdio>

namespace {
// How many blocks a text adds to the document beyond its own: QTextCursor::insertText starts a
// new block at each of these (U+FDD0 and U+FDD1 mark frames).
int BlockBreaks(const QString& text)
{
    int breaks = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n')) ++i;
        if (c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator || c == u'\xFDD0' ||
            c == u'\xFDD1')
            ++breaks;
    }
    return breaks;
}
}  // namespace

void TMainForm::SetUpLogView()
{
    // The document drops its oldest blocks itself once it holds the maximum. Undo is off: its
    // history would keep every line ever shown.
    reLog->setUndoRedoEnabled(false);
    reLog->setMaximumBlockCount(kLogViewMaxLines);
}

QString TMainForm::LoaderDirectory() const
{
    if (!ExeDirectory.isEmpty()) return ExeDirectory;
    return QCoreApplication::applicationDirPath() + QLatin1Char('/');
}

QString TMainForm::LogsFolder() const
{
    return LogsDirectory.isEmpty() ? LoaderDirectory() : LogsDirectory;
}

void TMainForm::AddLog(int kind, const QString& format, std::initializer_list<LogArg> args)
{
    const QString text = FormatLogTextInto(format.size() + kLogBufferExtra, format, args);
    AddLogLine(kind, LogLinePrefix(0) + text);
}

void TMainForm::AddDeviceLog(int kind, int32_t device, const QString& format,
                             std::initializer_list<LogArg> args)
{
    const QString text = FormatLogTextInto(format.size() + kDeviceLogBufferExtra, format, args);
    AddLogLine(kind, LogLinePrefix(device) + text);
}

void TMainForm::AddLogText(int kind, const QString& text)
{
    AddDeviceLogText(kind, 0, text);
}

void TMainForm::AddDeviceLogText(int kind, int32_t device, const QString& text)
{
    AddLogLine(kind, LogLinePrefix(device) + text);
}

void TMainForm::AddLogLine(int kind, const QString& line)
{
    QTextDocument* document = reLog->document();
    QScrollBar* vertical = reLog->verticalScrollBar();
    QScrollBar* horizontal = reLog->horizontalScrollBar();
    const int top = vertical->value();
    const int left = horizontal->value();
    const int blocksBefore = document->blockCount();

    // Appended as a new last line, in the kind's colour from its first character.
    QTextCharFormat format;
    format.setForeground(QColor::fromRgb(LogKindRgb(kind)));
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    const bool first = document->isEmpty();
    if (!first) cursor.insertBlock(QTextBlockFormat(), format);
    cursor.insertText(line, format);
    cursor.endEditBlock();

    WriteLogFile(line);

    // One line down from where the reader was. When the document dropped its oldest lines, the
    // lines in view moved up by as many, so the same view is that many lines higher now.
    const int added = (first ? 0 : 1) + BlockBreaks(line);
    const int dropped = std::max(0, blocksBefore + added - document->blockCount());
    // The caret goes back to the end, but the view stays where the scrolling puts it. A caret
    // already at the end moved along with the insertion.
    if (!reLog->textCursor().atEnd()) {
        reLog->setTextCursor(cursor);
        horizontal->setValue(left);
    }
    vertical->setValue(std::max(0, top - dropped) + 1);
}

void TMainForm::WriteLogFile(const QString& line)
{
    // Read at every line: ticking or clearing the box takes effect at the next one.
    if (!cbWritelogToFile->isChecked()) return;
    const QDateTime when = LogClock ? LogClock() : QDateTime::currentDateTime();
    QString reason;
    const bool written = AppendDailyLogLine(LogsFolder(), when, line, &reason);
    // The line stays in the view either way.
    NoteFileWrite(logFileFailing_, written, LoaderTextId::LogFileUnwritable,
                  DailyLogPath(LogsFolder(), when), reason);
}

void TMainForm::NoteFileWrite(bool& failing, bool written, LoaderTextId text, const QString& path,
                              const QString& reason)
{
    if (written) {
        failing = false;
        return;
    }
    // Said once, and again only after a write in between succeeded: a full disk would otherwise
    // fill the view with the same line. Set first, so that the line itself, which the log file
    // refuses too, says nothing more.
    if (failing) return;
    failing = true;
    const QString message =
        FormatLogText(LoaderText(text), {QDir::toNativeSeparators(path), reason});
    std::fprintf(stderr, "GXFWLoader: %s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
    AddLogText(Error, message);
}
