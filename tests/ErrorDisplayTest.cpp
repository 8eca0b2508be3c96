#include "app/ErrorDisplay.h"
#include "app/LoaderError.h"
#include "tests/TestSupport.h"

#include <QTimer>
#include <gtest/gtest.h>
#include <vector>

namespace {
// The test binary's application is a plain QApplication, so drive LoaderApplication::notify
// directly, the way the event loop does.
class ErrorDisplay : public testing::Test {
protected:
    std::vector<std::pair<QString, QString>> shown;
    ErrorDisplayFunction previous;
    void SetUp() override
    {
        previous = SetErrorDisplay([this](const QString& caption, const QString& text) {
            shown.emplace_back(caption, text);
        });
    }
    void TearDown() override { SetErrorDisplay(previous); }
};

TEST_F(ErrorDisplay, RunGuardedShowsTheTextAndGoesOn)
{
    bool after = false;
    RunGuarded([] { throw LoaderError(QStringLiteral("Unable to write to /x/GXFWLoader.ini")); });
    RunGuarded([] { throw std::runtime_error("plain"); });
    RunGuarded([] { throw 42; });
    RunGuarded([&] { after = true; });
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].second, QStringLiteral("Unable to write to /x/GXFWLoader.ini"));
    EXPECT_EQ(shown[1].second, QStringLiteral("plain"));
    EXPECT_EQ(shown[2].second, QString());  // not an exception object: empty text
    EXPECT_TRUE(after);
}

TEST_F(ErrorDisplay, AnErrorInAnEventHandlerIsShownAndTheLoopGoesOn)
{
    // The tests run under LoaderApplication, like the loader: a timer handler that throws.
    ASSERT_NE(dynamic_cast<LoaderApplication*>(QCoreApplication::instance()), nullptr);
    int later = 0;
    QTimer::singleShot(
        0, [] { throw LoaderError(QString::fromUtf16(u"Слишком большой размер блока прошивки")); });
    QTimer::singleShot(20, [&] { ++later; });
    ASSERT_TRUE(WaitFor([&] { return later == 1; }));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].second, QString::fromUtf16(u"Слишком большой размер блока прошивки"));
    EXPECT_EQ(shown[0].first, ErrorCaption());
}
}  // namespace
