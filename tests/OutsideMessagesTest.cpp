#include "app/MainForm.h"
#include "platform/OutsideMessages.h"
#include "platform/SingleInstance.h"
#include "tests/TestSupport.h"

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
struct LineCase {
    const char* line;
    bool ok;
    quint32 message;
    quint64 wParam;
};
class MessageLines : public testing::TestWithParam<LineCase> {};

TEST_P(MessageLines, AreTwoDecimalNumbers)
{
    quint32 m = 0;
    quint64 w = 0;
    const LineCase& c = GetParam();
    EXPECT_EQ(ParseOutsideMessageLine(QByteArrayView(c.line), m, w), c.ok) << c.line;
    if (c.ok) {
        EXPECT_EQ(m, c.message);
        EXPECT_EQ(w, c.wParam);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, MessageLines,
    testing::Values(LineCase{"537 7", true, 537, 7}, LineCase{"1025 0\r", true, 1025, 0},
                    LineCase{"4294967295 18446744073709551615", true, 4294967295u,
                             18446744073709551615ull},
                    LineCase{"4294967296 1", false, 0, 0}, LineCase{"537", false, 0, 0},
                    LineCase{"537 ", false, 0, 0}, LineCase{" 537 7", false, 0, 0},
                    LineCase{"537 -7", false, 0, 0}, LineCase{"537 7 1", false, 0, 0},
                    LineCase{"abc 7", false, 0, 0}, LineCase{"", false, 0, 0}));

// A client's bytes in pieces: whole lines are taken as they complete, a line end split from its
// line waits, and what waits for a line end may not outgrow one line.
TEST(OutsideMessagePieces, AreTakenLineByLine)
{
    const struct {
        const char* name;
        std::vector<std::string> pieces;
        std::vector<std::pair<quint32, quint64>> messages;
        bool dropped;
    } cases[] = {
        {"two lines in one piece", {"537 7\n1025 0\n"}, {{537, 7}, {1025, 0}}, false},
        {"a line split anywhere", {"53", "7 ", "7\r", "\n10"}, {{537, 7}}, false},
        {"a bad line drops the rest", {"537 7\nx 1\n1025 0\n"}, {{537, 7}}, true},
        {"a line of 64 bytes waits", {std::string(64, '1')}, {}, false},
        {"65 bytes without a line end", {"537 7\n", std::string(65, '1')}, {{537, 7}}, true},
    };
    for (const auto& c : cases) {
        QByteArray pending;
        std::vector<std::pair<quint32, quint64>> messages;
        bool dropped = false;
        for (const std::string& piece : c.pieces) {
            pending += QByteArray::fromStdString(piece);
            quint32 m = 0;
            quint64 w = 0;
            OutsideLineStep step;
            while ((step = TakeOutsideMessage(pending, m, w)) == OutsideLineStep::Message)
                messages.emplace_back(m, w);
            if (step == OutsideLineStep::Malformed) {
                dropped = true;
                break;
            }
        }
        EXPECT_EQ(messages, c.messages) << c.name;
        EXPECT_EQ(dropped, c.dropped) << c.name;
    }
}

class OutsideMessages : public testing::Test {
protected:
    QTemporaryDir runtime;
    std::unique_ptr<OutsideMessageSource> source = OutsideMessageSource::Start(runtime.path());
    std::vector<std::pair<quint32, quint64>> received;
    void SetUp() override
    {
        ASSERT_NE(source, nullptr);
        QObject::connect(source.get(), &OutsideMessageSource::messageReceived,
                         [this](quint32 m, quint64 w) { received.emplace_back(m, w); });
    }
};

TEST_F(OutsideMessages, RestoreMessageBringsBackAMinimisedWindow)
{
    TMainForm form({});
    QObject::connect(source.get(), &OutsideMessageSource::messageReceived, &form,
                     [&form](quint32 m, quint64 w) { form.HandleWindowMessage(m, w); });
    form.showMinimized();
    ASSERT_TRUE(WaitFor([&] { return form.isMinimized(); }));
    ASSERT_TRUE(SendOutsideMessage(runtime.path(), 1025, 0));
    EXPECT_TRUE(WaitFor([&] { return !form.isMinimized(); }));
}

TEST_F(OutsideMessages, GarbageAndEndlessLinesDropTheClientOnly)
{
    QLocalSocket garbage;
    garbage.connectToServer(OutsideMessageSocketPath(runtime.path()));
    ASSERT_TRUE(garbage.waitForConnected(2000));
    garbage.write("537 7\nhello world\n537 7\n");
    garbage.flush();
    ASSERT_TRUE(WaitFor([&] { return garbage.state() == QLocalSocket::UnconnectedState; }));

    QLocalSocket endless;
    endless.connectToServer(OutsideMessageSocketPath(runtime.path()));
    ASSERT_TRUE(endless.waitForConnected(2000));
    endless.write(QByteArray(1000, '5'));
    endless.flush();
    ASSERT_TRUE(WaitFor([&] { return endless.state() == QLocalSocket::UnconnectedState; }));

    // The first line before the garbage arrived; the server still serves new clients.
    ASSERT_TRUE(SendOutsideMessage(runtime.path(), 1025, 3));
    ASSERT_TRUE(WaitFor([&] { return received.size() == 2; }));
    EXPECT_EQ(received[0], std::make_pair(537u, quint64(7)));
    EXPECT_EQ(received[1], std::make_pair(1025u, quint64(3)));
}

TEST_F(OutsideMessages, AStaleSocketFileDoesNotBlockTheNextListener)
{
    source.reset();  // leaves no listener; a crash would also leave the file
    QFile stale(OutsideMessageSocketPath(runtime.path()));
    if (!stale.exists()) {
        ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
        stale.close();
    }
    source = OutsideMessageSource::Start(runtime.path());
    ASSERT_NE(source, nullptr);
    EXPECT_TRUE(SendOutsideMessage(runtime.path(), 537, 7));
}

// Many clients, quiet clients and a lost listener, with limits shortened where a test waits.
class OutsideClients : public testing::Test {
protected:
    QTemporaryDir runtime;
    std::unique_ptr<OutsideMessageSource> source;
    std::vector<std::pair<quint32, quint64>> received;

    void Start(const OutsideClientLimits& limits)
    {
        source = OutsideMessageSource::Start(runtime.path(), limits);
        ASSERT_NE(source, nullptr);
        QObject::connect(source.get(), &OutsideMessageSource::messageReceived,
                         [this](quint32 m, quint64 w) { received.emplace_back(m, w); });
    }
    QString SocketPath() const { return OutsideMessageSocketPath(runtime.path()); }
    std::unique_ptr<QLocalSocket> Connect()
    {
        auto client = std::make_unique<QLocalSocket>();
        client->connectToServer(SocketPath());
        EXPECT_TRUE(client->waitForConnected(5000));
        return client;
    }
    static void Write(QLocalSocket& client, const QByteArray& bytes)
    {
        client.write(bytes);
        client.flush();
    }
    static bool Dropped(const QLocalSocket& client)
    {
        return client.state() == QLocalSocket::UnconnectedState;
    }
    static void Run(int ms)
    {
        const QDeadlineTimer until(ms);
        WaitFor([&] { return until.hasExpired(); }, ms + 1000);
    }
    bool WaitReceived(size_t count) const
    {
        return WaitFor([&] { return received.size() >= count; });
    }
};

TEST_F(OutsideClients, ANewcomerBeyondTheCapDropsTheClientQuietTheLongest)
{
    OutsideClientLimits limits;
    limits.idleDropMs = 600000;  // only the cap at work
    Start(limits);
    const int cap = limits.maxClients;
    std::vector<std::unique_ptr<QLocalSocket>> clients;
    for (int i = 0; i < cap; ++i) clients.push_back(Connect());
    // Every client speaks once, so every one has been taken in; then all but one speak again,
    // and one of them leaves half a line. The quiet one is neither the oldest nor the newest.
    const int quiet = 7, halfLine = 3;
    for (int i = 0; i < cap; ++i) Write(*clients[i], "1025 " + QByteArray::number(i) + "\n");
    ASSERT_TRUE(WaitReceived(cap));
    for (int i = 0; i < cap; ++i)
        if (i != quiet)
            Write(*clients[i],
                  "1025 " + QByteArray::number(100 + i) + (i == halfLine ? "\n10" : "\n"));
    ASSERT_TRUE(WaitReceived(2 * cap - 1));

    ASSERT_TRUE(SendOutsideMessage(runtime.path(), 537, 7));
    ASSERT_TRUE(WaitFor([&] { return Dropped(*clients[quiet]); }));
    ASSERT_TRUE(WaitReceived(2 * cap));
    EXPECT_EQ(received.back(), std::make_pair(537u, quint64(7)));

    // The half line survived the crowd with its connection.
    Write(*clients[halfLine], "25 77\n");
    ASSERT_TRUE(WaitReceived(2 * cap + 1));
    EXPECT_EQ(received.back(), std::make_pair(1025u, quint64(77)));
    for (int i = 0; i < cap; ++i) {
        if (i != quiet) {
            EXPECT_FALSE(Dropped(*clients[i])) << "client " << i;
        }
    }
}

TEST_F(OutsideClients, AQuietClientIsDroppedAndOneThatKeepsSendingStays)
{
    OutsideClientLimits limits;
    limits.idleDropMs = 2000;
    limits.watchdogMs = 100;
    Start(limits);
    std::unique_ptr<QLocalSocket> quiet = Connect();
    std::unique_ptr<QLocalSocket> slow = Connect();
    // A byte every 250 ms: well inside the idle time each, well past it in all.
    const QByteArray lines = "537 7\n1025 0\n";
    for (const char c : lines) {
        Write(*slow, QByteArray(1, c));
        Run(250);
    }
    EXPECT_TRUE(WaitFor([&] { return Dropped(*quiet); }, 15000));
    EXPECT_FALSE(Dropped(*slow));
    ASSERT_TRUE(WaitReceived(2));
    EXPECT_EQ(received[0], std::make_pair(537u, quint64(7)));
    EXPECT_EQ(received[1], std::make_pair(1025u, quint64(0)));
}

// A descriptor closed with its owner.
struct Fd {
    int fd;
    ~Fd()
    {
        if (fd >= 0) close(fd);
    }
};

// Puts the process's descriptor limit back, whatever the test did.
struct DescriptorLimitGuard {
    rlimit saved{};
    DescriptorLimitGuard() { getrlimit(RLIMIT_NOFILE, &saved); }
    ~DescriptorLimitGuard() { setrlimit(RLIMIT_NOFILE, &saved); }
};

// Connects with no descriptor left for the server's accept(), on which QLocalServer closes
// itself and removes its file.
void ExhaustDescriptorsOnAccept(const QString& socketPath)
{
    const Fd client{socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    ASSERT_GE(client.fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(socketPath);
    ASSERT_LT(size_t(path.size()), sizeof address.sun_path);
    std::copy(path.begin(), path.end(), address.sun_path);

    // From the lowest free descriptor up, every new one is refused.
    int lowestFree = -1;
    {
        const Fd probe{fcntl(client.fd, F_DUPFD_CLOEXEC, 0)};
        lowestFree = probe.fd;
    }
    ASSERT_GE(lowestFree, 0);
    const DescriptorLimitGuard restore;
    rlimit low = restore.saved;
    low.rlim_cur = rlim_t(lowestFree);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    ASSERT_EQ(::connect(client.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_TRUE(WaitFor([&] { return !QFile::exists(socketPath); }, 10000));
}

struct LostListenerCase {
    const char* name;
    void (*lose)(const QString& socketPath);
};
void PrintTo(const LostListenerCase& c, std::ostream* os)
{
    *os << c.name;
}

class LostListener : public OutsideClients, public testing::WithParamInterface<LostListenerCase> {};

TEST_P(LostListener, IsReplacedOnTheSamePath)
{
    Start({});
    GetParam().lose(SocketPath());
    if (HasFatalFailure()) return;
    ASSERT_TRUE(WaitFor([&] { return SendOutsideMessage(runtime.path(), 537, 7, 200); }, 15000));
    ASSERT_TRUE(WaitReceived(1));
    EXPECT_EQ(received.back(), std::make_pair(537u, quint64(7)));
}

INSTANTIATE_TEST_SUITE_P(
    Ways, LostListener,
    testing::Values(LostListenerCase{"AcceptRanOutOfDescriptors", ExhaustDescriptorsOnAccept},
                    LostListenerCase{
                        "SocketFileRemoved",
                        [](const QString& socketPath) { ASSERT_TRUE(QFile::remove(socketPath)); }}),
    [](const testing::TestParamInfo<LostListenerCase>& info) {
        return std::string(info.param.name);
    });

TEST_F(OutsideClients, AMessageToARunningCopyWaitsWhileItsSocketIsMissing)
{
    OutsideClientLimits limits;
    limits.watchdogMs = 400;  // well inside the sender's window
    Start(limits);
    // This process holds the instance lock in the runtime folder, as a running copy does.
    const bool hadRuntime = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    const SingleInstance::Result lock = SingleInstance::Acquire(0);
    if (hadRuntime)
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
    else
        qunsetenv("XDG_RUNTIME_DIR");
    ASSERT_EQ(lock.outcome, SingleInstance::Outcome::Held) << lock.reason.toStdString();

    ASSERT_TRUE(QFile::remove(SocketPath()));
    // The sender blocks; the listener comes back through this thread's event loop.
    std::atomic<int> sent{-1};
    std::thread sender([&] { sent = SendOutsideMessage(runtime.path(), 537, 7) ? 1 : 0; });
    WaitFor([&] { return sent >= 0; }, 20000);
    sender.join();
    EXPECT_EQ(sent, 1);
    ASSERT_TRUE(WaitReceived(1));
    EXPECT_EQ(received.back(), std::make_pair(537u, quint64(7)));
}
}  // namespace
