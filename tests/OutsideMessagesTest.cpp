#include "app/MainForm.h"
#include "platform/OutsideMessages.h"
#include "tests/TestSupport.h"

#include <QLocalSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <vector>

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

INSTANTIATE_TEST_SUITE_P(Lines, MessageLines,
                         testing::Values(LineCase{"537 7", true, 537, 7},
                                         LineCase{"1025 0\r", true, 1025, 0},
                                         LineCase{"4294967295 18446744073709551615", true,
                                                  4294967295u, 18446744073709551615ull},
                                         LineCase{"4294967296 1", false, 0, 0},
                                         LineCase{"537", false, 0, 0},
                                         LineCase{"537 ", false, 0, 0},
                                         LineCase{" 537 7", false, 0, 0},
                                         LineCase{"537 -7", false, 0, 0},
                                         LineCase{"537 7 1", false, 0, 0},
                                         LineCase{"abc 7", false, 0, 0},
                                         LineCase{"", false, 0, 0}));

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
}  // namespace
