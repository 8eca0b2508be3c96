#include "app/ErrorDisplay.h"
#include "app/IniFile.h"
#include "app/Language.h"
#include "app/LoaderError.h"
#include "app/MainForm.h"
#include "app/Settings.h"
#include "platform/UiLanguage.h"
#include "tests/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace {
QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArray Utf16Le(const QString& s)
{
    QByteArray out("\xFF\xFE", 2);
    for (QChar c : s) {
        out.append(char(c.unicode() & 0xFF));
        out.append(char(c.unicode() >> 8));
    }
    return out;
}

// ---- The INI layer on its own.

struct WriteCase {
    const char* name;
    const char* before;  // nullptr: no file
    const char* section;
    const char* key;
    const char* value;
    const char* after;
};

TEST(IniFile, WritesChangeOneKeyAndKeepEverythingElse)
{
    const WriteCase cases[] = {
        {"new file", nullptr, "COMMON", "Language", "", "[COMMON]\nLanguage=\n"},
        {"new section at the end", "[A]\nx=1\n", "FILES", "0", "f", "[A]\nx=1\n[FILES]\n0=f\n"},
        {"replaced in place, any letter case", "[common]\nA=1\nMAINFORM=old\nB=2\n", "COMMON",
         "MainForm", "1,2", "[common]\nA=1\nMainForm=1,2\nB=2\n"},
        {"new key after the section's last line, blank lines stay below",
         "[COMMON]\nA=1\n\n[FILES]\n0=x\n", "COMMON", "LastFile", "/p",
         "[COMMON]\nA=1\nLastFile=/p\n\n[FILES]\n0=x\n"},
        {"comments and odd lines are kept", "; note\n[COMMON]\n;x=1\njunk\n", "COMMON", "x", "2",
         "; note\n[COMMON]\n;x=1\njunk\nx=2\n"},
        {"CR LF stays CR LF", "[COMMON]\r\nA=1\r\n", "COMMON", "B", "2",
         "[COMMON]\r\nA=1\r\nB=2\r\n"},
        {"no final line end", "[COMMON]\nA=1", "COMMON", "A", "3", "[COMMON]\nA=3\n"},
        {"values are written as given, unquoted", "", "FILES", "0", "C:\\fw\\a b\\\"x\".eraw",
         "[FILES]\n0=C:\\fw\\a b\\\"x\".eraw\n"},
        {"a line break in a value cannot start a line", "", "S", "k", "a\nb=c", "[S]\nk=a b=c\n"},
        {"only the first of two sections of one name", "[S]\na=1\n[s]\nb=2\n", "S", "b", "3",
         "[S]\na=1\nb=3\n[s]\nb=2\n"},
    };
    for (const WriteCase& c : cases) {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("t.ini"));
        if (c.before) WriteAll(path, c.before);
        IniFile ini(path);
        ini.WriteString(QString::fromUtf8(c.section), QString::fromUtf8(c.key),
                        QString::fromUtf8(c.value));
        EXPECT_EQ(ReadAll(path), QByteArray(c.after)) << c.name;
    }
}

TEST(IniFile, ReadsByNameInAnyCaseAndListsKeysInFileOrder)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.ini"));
    WriteAll(path,
             "top=ignored\n[Files]\n 2 = c \n0=a\n;0=comment\n1=\n0=second a\nx=\"quoted\"\n"
             "[COMMON]\nLanguage = English\n");
    const IniFile ini(path);
    EXPECT_EQ(ini.KeyNames(QStringLiteral("FILES")), QStringList({"2", "0", "1", "0", "x"}));
    EXPECT_EQ(ini.ReadString("files", "2", "d"), QStringLiteral("c"));
    EXPECT_EQ(ini.ReadString("FILES", "0", "d"), QStringLiteral("a"));  // the first of two
    EXPECT_EQ(ini.ReadString("FILES", "1", "d"), QString());            // present, empty
    EXPECT_EQ(ini.ReadString("FILES", "x", "d"), QStringLiteral("quoted"));
    EXPECT_EQ(ini.ReadString("FILES", "top", "d"), QStringLiteral("d"));
    EXPECT_EQ(ini.ReadString("common", "LANGUAGE", "d"), QStringLiteral("English"));
    EXPECT_TRUE(ini.HasKey("COMMON", "language"));
    EXPECT_FALSE(ini.HasKey("COMMON", "MainForm"));
    EXPECT_TRUE(ini.KeyNames("NONE").isEmpty());
}

TEST(IniFile, TextEncodings)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.ini"));
    const QString cyrillic = QString::fromUtf16(u"/прошивки/новая.eraw");

    // UTF-16LE with its mark: read, and written back the same way.
    WriteAll(path, Utf16Le(QStringLiteral("[COMMON]\r\nLastFile=") + cyrillic + "\r\n"));
    {
        IniFile ini(path);
        EXPECT_EQ(ini.ReadString("COMMON", "LastFile", ""), cyrillic);
        ini.WriteString("COMMON", "Language", "");
    }
    EXPECT_EQ(ReadAll(path),
              Utf16Le(QStringLiteral("[COMMON]\r\nLastFile=") + cyrillic + "\r\nLanguage=\r\n"));

    // Windows-1251 from an older copy: read, and written back as UTF-8.
    WriteAll(path, QByteArray("[COMMON]\nLastFile=\xEF\xF0\xEE\xE1\xE0\n"));
    {
        IniFile ini(path);
        EXPECT_EQ(ini.ReadString("COMMON", "LastFile", ""), QString::fromUtf16(u"проба"));
        ini.WriteString("COMMON", "A", "1");
    }
    EXPECT_EQ(ReadAll(path), QString::fromUtf16(u"[COMMON]\nLastFile=проба\nA=1\n").toUtf8());

    // UTF-8 keeps its mark when it had one.
    WriteAll(path, "\xEF\xBB\xBF[COMMON]\nA=1\n");
    IniFile(path).WriteString("COMMON", "A", cyrillic);
    EXPECT_EQ(ReadAll(path), QByteArray("\xEF\xBB\xBF") +
                                 (QStringLiteral("[COMMON]\nA=") + cyrillic + "\n").toUtf8());

    // A second mark after the first is the file's text: a rewrite keeps it, so what is read from
    // the file does not change with the rewrite.
    for (const QByteArray& marked : {QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF[COMMON]\nA=1\n"),
                                     Utf16Le(QString::fromUtf16(u"\uFEFF[COMMON]\r\nA=1\r\n"))}) {
        WriteAll(path, marked);
        const bool before = IniFile(path).HasKey("COMMON", "A");
        IniFile(path).WriteString("OTHER", "B", "2");
        EXPECT_TRUE(ReadAll(path).startsWith(marked)) << marked.toHex().toStdString();
        EXPECT_EQ(IniFile(path).HasKey("COMMON", "A"), before) << marked.toHex().toStdString();
    }
}

// ---- The three window routines, on a window that was never shown.

class SettingsTest : public testing::Test {
protected:
    void SetUp() override
    {
        form.ExeDirectory = dir.path() + QLatin1Char('/');
        path = form.ExeDirectory + QStringLiteral("GXFWLoader.ini");
    }
    void TearDown() override { CurrentLanguage = savedLanguage; }
    void Load(const QByteArray& text)
    {
        WriteAll(path, text);
        form.LoadSettings();
    }
    QStringList Items() const
    {
        QStringList items;
        for (int i = 0; i < form.edFWFile->count(); ++i) items << form.edFWFile->itemText(i);
        return items;
    }
    static QRect Desktop() { return QGuiApplication::primaryScreen()->virtualGeometry(); }

    int savedLanguage = CurrentLanguage;
    QTemporaryDir dir;
    TMainForm form{QStringList()};
    QString path;
};

TEST_F(SettingsTest, FirstStartCreatesTheFileAndKeepsTheLayout)
{
    const QRect geometry = form.geometry();
    const int logHeight = form.LogHeight();
    ASSERT_FALSE(QFile::exists(path));
    form.PrepareSettings();
    form.LoadSettings();
    EXPECT_EQ(ReadAll(path), QByteArray("[COMMON]\nLanguage=\n"));
    EXPECT_EQ(CurrentLanguage, SystemUiLanguageId() == 1049 ? 0 : 1);
    EXPECT_EQ(form.geometry(), geometry);
    EXPECT_EQ(form.LogHeight(), logHeight);
    EXPECT_EQ(logHeight, kDesignLogHeight);
    EXPECT_FALSE(form.cbAutoWrite->isChecked() || form.cbWritelogToFile->isChecked() ||
                 form.cbStartApp->isChecked());
    EXPECT_EQ(form.edFWFile->count(), 0);
    EXPECT_TRUE(form.edFWFile->currentText().isEmpty());

    // A second start finds the key and writes nothing.
    WriteAll(path, "[COMMON]\nLanguage=english\n");
    form.PrepareSettings();
    EXPECT_EQ(ReadAll(path), QByteArray("[COMMON]\nLanguage=english\n"));
}

TEST(LanguageFromSetting, NamesInAnyCaseOrTheSystemLanguage)
{
    const struct {
        const char* value;
        int system;
        int expected;
    } cases[] = {
        {"ENGLISH", kLanguageIdRussian, 1},
        {"english", 0, 1},
        {"EnGlIsH", 1033, 1},
        {"RUSSIAN", kLanguageIdEnglish, 0},
        {"russian", 1049, 0},
        {"", kLanguageIdRussian, 0},
        {"", kLanguageIdEnglish, 1},
        {"", 0, 1},
        {"Deutsch", 1049, 0},
        {"Deutsch", 0x0407, 1},
        {"englisch", 1033, 1},
        {"englishx", 1049, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LanguageFromSetting(QString::fromUtf8(c.value), c.system), c.expected)
            << c.value << " " << c.system;
}

TEST(ReadSettingsFile, GivesWhatTheWindowTakesFromTheFile)
{
    const struct {
        const char* name;
        const char* file;
        int language;
        QStringList recentFiles;
        const char* lastFile;
        int placementNumbers;
    } cases[] = {
        {"no file at all", nullptr, kLanguageRussian, {}, "", 0},
        {"a whole file",
         "[COMMON]\nLanguage=english\nMainForm=1,2,3,4,5,6,7,8\nLastFile=/a.eraw\n"
         "[FILES]\n0=/a.eraw\n1=\n2=/b.eraw\n",
         kLanguageEnglish,
         {"/a.eraw", "/b.eraw"},
         "/a.eraw",
         8},
        {"an empty language follows the system",
         "[COMMON]\nLanguage=\nMainForm=1,2,x\n",
         kLanguageEnglish,
         {},
         "",
         2},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("t.ini"));
        if (c.file) WriteAll(path, c.file);
        const SettingsFileValues values = ReadSettingsFile(IniFile(path), kLanguageIdEnglish);
        EXPECT_EQ(values.language, c.language) << c.name;
        EXPECT_EQ(values.recentFiles, c.recentFiles) << c.name;
        EXPECT_EQ(values.lastFile, QString::fromUtf8(c.lastFile)) << c.name;
        EXPECT_EQ(values.placementNumbers, c.placementNumbers) << c.name;
        for (int i = c.placementNumbers; i < 8; ++i) EXPECT_EQ(values.placement[i], -1) << c.name;
    }
}

TEST_F(SettingsTest, LanguageValueSetsCurrentLanguage)
{
    const int system = SystemUiLanguageId() == kLanguageIdRussian ? 0 : 1;
    const struct {
        const char* file;
        int expected;
    } cases[] = {
        {"[COMMON]\nLanguage=ENGLISH\n", 1},
        {"[common]\nlanguage=English\n", 1},
        {"[COMMON]\nLanguage=Russian\n", 0},
        {"[COMMON]\nLanguage=\n", system},
        {"[COMMON]\nLanguage=Klingon\n", system},
        {"[COMMON]\nOther=1\n", 0},  // missing key: the default "Russian"
        {"", 0},
    };
    for (const auto& c : cases) {
        CurrentLanguage = 1 - c.expected;
        Load(c.file);
        EXPECT_EQ(CurrentLanguage, c.expected) << c.file;
    }
}

struct Placement {
    QPoint pos;
    QSize size;
    bool autoWrite, logFile, startApp;
    int logHeight;
};

Placement PlacementOf(TMainForm& f)
{
    return {f.pos(),
            f.size(),
            f.cbAutoWrite->isChecked(),
            f.cbWritelogToFile->isChecked(),
            f.cbStartApp->isChecked(),
            f.LogHeight()};
}

TEST_F(SettingsTest, MainFormValueAppliesOnlyWhatItMay)
{
    const int w = Desktop().width();
    const int h = Desktop().height();
    ASSERT_GT(w, 700);
    ASSERT_GT(h, 500);
    const Placement layout = PlacementOf(form);
    const struct {
        QByteArray value;
        Placement expected;
    } cases[] = {
        // Four numbers: place and size; the log and the boxes keep their layout values.
        {"100,50,690,400", {{100, 50}, {690, 400}, false, false, false, layout.logHeight}},
        // Fewer than four, or no number first: nothing.
        {"100,50,690", layout},
        {"", layout},
        {"x100,50,690,400", layout},
        {" 100 ,50,690,400", layout},  // a blank before a comma ends the scan after one number
        // A left edge of -8, or one too far right, is left alone; everything else applies.
        {"-8,50,700,500,1,120,1,1", {{layout.pos.x(), 50}, {700, 500}, true, true, true, 120}},
        {QByteArray::number(w - 100) + ",50,700,500",
         {{layout.pos.x(), 50}, {700, 500}, false, false, false, layout.logHeight}},
        {QByteArray::number(w - 101) + ",50,700,500",
         {{w - 101, 50}, {700, 500}, false, false, false, layout.logHeight}},
        {"30," + QByteArray::number(h - 100) + ",700,500",
         {{30, layout.pos.y()}, {700, 500}, false, false, false, layout.logHeight}},
        {"30," + QByteArray::number(h - 101) + ",700,500",
         {{30, h - 101}, {700, 500}, false, false, false, layout.logHeight}},
        // -1 keeps a value; 0 and other numbers set a box; the minimum width holds.
        {"1,2,500,450,5,-1,0,7",
         {{1, 2}, {kMinimumWindowWidth, 450}, true, false, true, layout.logHeight}},
        {"1,2,-1,-1,-1,-1,-1,-1", {{1, 2}, layout.size, false, false, false, layout.logHeight}},
        // A size from a damaged file is held to the desktop.
        {"0,0,99999999,99999999", {{0, 0}, {w, h}, false, false, false, layout.logHeight}},
    };
    for (const auto& c : cases) {
        TMainForm fresh{QStringList()};
        fresh.ExeDirectory = form.ExeDirectory;
        WriteAll(path, "[COMMON]\nMainForm=" + c.value + "\n");
        fresh.LoadSettings();
        const Placement got = PlacementOf(fresh);
        EXPECT_EQ(got.pos, c.expected.pos) << c.value.constData();
        EXPECT_EQ(got.size, c.expected.size) << c.value.constData();
        EXPECT_EQ(got.autoWrite, c.expected.autoWrite) << c.value.constData();
        EXPECT_EQ(got.logFile, c.expected.logFile) << c.value.constData();
        EXPECT_EQ(got.startApp, c.expected.startApp) << c.value.constData();
        EXPECT_EQ(got.logHeight, c.expected.logHeight) << c.value.constData();
    }
}

TEST_F(SettingsTest, SavedPlacementIsWrittenBackExactly)
{
    form.move(10, 20);
    form.resize(700, 500);
    form.cbAutoWrite->setChecked(true);
    form.SetLogHeight(165);
    form.cbWritelogToFile->setChecked(false);
    form.cbStartApp->setChecked(true);
    form.SaveSettings();
    EXPECT_EQ(ReadAll(path), QByteArray("[COMMON]\nMainForm=10,20,700,500,1,165,0,1\nLastFile=\n"));

    // And read back into another window, then written again unchanged.
    WriteAll(path, "[COMMON]\nMainForm=10,20,700,500,1,130,0,1\n");
    TMainForm other{QStringList()};
    other.ExeDirectory = form.ExeDirectory;
    other.LoadSettings();
    other.SaveSettings();
    EXPECT_EQ(ReadAll(path), QByteArray("[COMMON]\nMainForm=10,20,700,500,1,130,0,1\nLastFile=\n"));
}

TEST_F(SettingsTest, RecentFilesInFileOrderEmptyValuesSkipped)
{
    Load(
        "[FILES]\n2=/c.eraw\n0=/a.eraw\n1=\n7=/b.eraw\nx=/d.eraw\n0=/dup.eraw\n"
        "[COMMON]\nLastFile=/last.eraw\n");
    // Duplicates stay: the second "0" reads the first one's value again.
    EXPECT_EQ(Items(), QStringList({"/c.eraw", "/a.eraw", "/b.eraw", "/d.eraw", "/a.eraw"}));
    EXPECT_EQ(form.edFWFile->currentText(), QStringLiteral("/last.eraw"));

    // Written back under 0, 1, ...; keys beyond the count and other names stay as they were.
    form.SaveSettings();
    EXPECT_EQ(ReadAll(path),
              QByteArray("[FILES]\n2=/b.eraw\n0=/c.eraw\n1=/a.eraw\n7=/b.eraw\n"
                         "x=/d.eraw\n0=/dup.eraw\n3=/d.eraw\n4=/a.eraw\n"
                         "[COMMON]\nLastFile=/last.eraw\n"
                         "MainForm=" +
                         FormatMainFormValue({form.x(), form.y(), form.width(), form.height(), 0,
                                              form.LogHeight(), 0, 0})
                             .toUtf8() +
                         "\n"));
}

TEST_F(SettingsTest, CommandLineFileWinsOverTheLastFile)
{
    form.edFWFile->setEditText(QStringLiteral("/cmd.eraw"));
    Load("[COMMON]\nLastFile=/last.eraw\n[FILES]\n0=/a.eraw\n");
    EXPECT_EQ(form.edFWFile->currentText(), QStringLiteral("/cmd.eraw"));
    EXPECT_EQ(Items(), QStringList({"/a.eraw"}));
}

TEST_F(SettingsTest, EmbeddedModeWritesAnEmptyLastFileAndTheListUnchanged)
{
    Load("[COMMON]\nLastFile=/last.eraw\n[FILES]\n0=/a.eraw\n1=/b.eraw\n");
    form.edFWFile->setEditText(QString());  // what the show sequence does without external files
    form.SaveSettings();
    const IniFile ini(path);
    EXPECT_EQ(ini.ReadString("COMMON", "LastFile", "x"), QString());
    EXPECT_EQ(ini.ReadString("FILES", "0", ""), QStringLiteral("/a.eraw"));
    EXPECT_EQ(ini.ReadString("FILES", "1", ""), QStringLiteral("/b.eraw"));
    EXPECT_EQ(ini.KeyNames("FILES"), QStringList({"0", "1"}));
}

// ---- Writes the system refuses.

TEST_F(SettingsTest, RefusedWriteRaisesTheErrorAndTheErrorDisplayShowsIt)
{
    // A folder that is a file: refused to every user, root included.
    const QString file = dir.filePath(QStringLiteral("plain"));
    WriteAll(file, "x");
    form.ExeDirectory = file + QLatin1Char('/');
    const QString expected = QStringLiteral("Unable to write to ") + file + "/GXFWLoader.ini";
    try {
        form.PrepareSettings();
        FAIL() << "no error";
    } catch (const LoaderError& e) {
        EXPECT_EQ(e.Message(), expected);
    }
    EXPECT_THROW(form.SaveSettings(), LoaderError);

    QString shown;
    ErrorDisplayFunction previous =
        SetErrorDisplay([&](const QString&, const QString& text) { shown = text; });
    RunGuarded([&] { form.SaveSettings(); });
    SetErrorDisplay(std::move(previous));
    EXPECT_EQ(shown, expected);
}

TEST_F(SettingsTest, WriteFailingMidwayLeavesTheOldFileWhole)
{
    // A file-size limit makes the write of the new copy fail after its first bytes, for root as
    // for anyone.
    QByteArray old = "[COMMON]\nLanguage=English\n[FILES]\n";
    for (int i = 0; i < 40; ++i) old += QByteArray::number(i) + "=/some/firmware/file.eraw\n";
    WriteAll(path, old);
    form.edFWFile->addItem(QStringLiteral("/new.eraw"));

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 256;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool raised = false;
    try {
        form.SaveSettings();
    } catch (const LoaderError& e) {
        raised = e.Message() == QStringLiteral("Unable to write to ") + path;
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_TRUE(raised);
    EXPECT_EQ(ReadAll(path), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList({"GXFWLoader.ini"}));  // no half-written copy left behind
}

TEST_F(SettingsTest, WriteKeepsTheFilesPermissions)
{
    WriteAll(path, "[COMMON]\nLanguage=\n");
    const auto mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    ASSERT_TRUE(QFile::setPermissions(path, mode));
    form.SaveSettings();
    // The "user" bits mirror the owner's for the file's owner; compare the others.
    EXPECT_EQ(QFile::permissions(path) & ~QFileDevice::Permissions(0x0F00), mode);
    EXPECT_TRUE(IniFile(path).HasKey("COMMON", "MainForm"));
}

// Root writes through permission bits: run as root, each of these tests runs itself again as
// "nobody".
class ReadOnlyFolder : public SettingsTest {
protected:
    void TearDown() override
    {
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        SettingsTest::TearDown();
    }
    void MakeFolderReadOnly()
    {
        ASSERT_TRUE(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
    }
};

TEST_F(ReadOnlyFolder, ReadOnlyFileIsRefusedAndStaysWhole)
{
    if (RunningAsRoot()) return RerunCurrentTestAsNobody();
    const QByteArray old = "[COMMON]\nLanguage=English\n";
    WriteAll(path, old);
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner));
    MakeFolderReadOnly();
    try {
        form.SaveSettings();
        ADD_FAILURE() << "no error";
    } catch (const LoaderError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Unable to write to ") + path);
    }
    EXPECT_EQ(ReadAll(path), old);
}

TEST_F(ReadOnlyFolder, WritableFileIsWrittenInPlace)
{
    if (RunningAsRoot()) return RerunCurrentTestAsNobody();
    WriteAll(path, "[COMMON]\nLanguage=English\n");
    MakeFolderReadOnly();
    form.move(10, 20);
    form.resize(700, 500);
    form.SaveSettings();  // no new file can be made beside it: the file itself is rewritten
    const IniFile ini(path);
    EXPECT_EQ(ini.ReadString("COMMON", "Language", ""), QStringLiteral("English"));
    EXPECT_TRUE(
        ini.ReadString("COMMON", "MainForm", "").startsWith(QStringLiteral("10,20,700,500,")));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList({"GXFWLoader.ini"}));
}
}  // namespace
