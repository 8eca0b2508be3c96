// Where the loader keeps its settings and logs: beside the executable where the user may write
// there, in the user's own folders where the loader is installed.

#include "platform/DataFolders.h"
#include "tests/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <optional>

namespace {

// Sets or clears one environment variable for the life of the object.
class ScopedVariable {
public:
    ScopedVariable(const char* name, std::optional<QByteArray> value)
        : name_(name),
          saved_(qEnvironmentVariableIsSet(name) ? std::optional<QByteArray>(qgetenv(name))
                                                 : std::nullopt)
    {
        Apply(value);
    }
    ~ScopedVariable() { Apply(saved_); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    void Apply(const std::optional<QByteArray>& value)
    {
        if (value)
            qputenv(name_, *value);
        else
            qunsetenv(name_);
    }
    const char* name_;
    std::optional<QByteArray> saved_;
};

struct UserFoldersCase {
    const char* name;
    std::optional<QByteArray> configHome;
    std::optional<QByteArray> stateHome;
    const char* settings;
    const char* logs;
};

class UserFolders : public testing::TestWithParam<UserFoldersCase> {};

// An installed loader: its folder belongs to the package manager, even for root.
TEST_P(UserFolders, AnInstalledLoaderUsesTheUsersOwnFolders)
{
    const UserFoldersCase& c = GetParam();
    const ScopedVariable home("HOME", QByteArray("/home/tech"));
    const ScopedVariable config("XDG_CONFIG_HOME", c.configHome);
    const ScopedVariable state("XDG_STATE_HOME", c.stateHome);
    const LoaderFolders folders = ChooseLoaderFolders(QStringLiteral("/usr/lib/gxfwloader/"));
    EXPECT_EQ(folders.Settings, QString::fromUtf8(c.settings));
    EXPECT_EQ(folders.Logs, QString::fromUtf8(c.logs));
}

INSTANTIATE_TEST_SUITE_P(
    Xdg, UserFolders,
    testing::Values(
        UserFoldersCase{"Given", QByteArray("/srv/cfg"), QByteArray("/srv/state/"),
                        "/srv/cfg/GXFWLoader/", "/srv/state/GXFWLoader/"},
        UserFoldersCase{"Unset", std::nullopt, std::nullopt, "/home/tech/.config/GXFWLoader/",
                        "/home/tech/.local/state/GXFWLoader/"},
        UserFoldersCase{"Empty", QByteArray(""), QByteArray(""), "/home/tech/.config/GXFWLoader/",
                        "/home/tech/.local/state/GXFWLoader/"},
        // Relative values are to be ignored: they would depend on the folder the loader was
        // started from.
        UserFoldersCase{"Relative", QByteArray("cfg"), QByteArray("./state"),
                        "/home/tech/.config/GXFWLoader/", "/home/tech/.local/state/GXFWLoader/"}),
    [](const testing::TestParamInfo<UserFoldersCase>& info) {
        return std::string(info.param.name);
    });

class LoaderFolder : public testing::Test {
protected:
    QTemporaryDir exe;
    QString ExeFolder() const { return exe.path() + QLatin1Char('/'); }
    ScopedVariable config{"XDG_CONFIG_HOME", QByteArray("/srv/cfg")};
    ScopedVariable state{"XDG_STATE_HOME", QByteArray("/srv/state")};
};

TEST_F(LoaderFolder, AWritableFolderKeepsEverythingBesideTheExecutable)
{
    const LoaderFolders folders = ChooseLoaderFolders(ExeFolder());
    EXPECT_EQ(folders.Settings, ExeFolder());
    EXPECT_EQ(folders.Logs, ExeFolder());
}

TEST_F(LoaderFolder, AFolderTheUserMayNotWriteSendsEverythingToTheUsersFolders)
{
    if (RunningAsRoot()) return RerunCurrentTestAsNobody();
    ASSERT_TRUE(QFile::setPermissions(exe.path(), QFile::ReadOwner | QFile::ExeOwner));
    const LoaderFolders folders = ChooseLoaderFolders(ExeFolder());
    QFile::setPermissions(exe.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(folders.Settings, QStringLiteral("/srv/cfg/GXFWLoader/"));
    EXPECT_EQ(folders.Logs, QStringLiteral("/srv/state/GXFWLoader/"));
}

}  // namespace
