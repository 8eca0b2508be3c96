// The Windows platform pieces that need no Qt: the single-instance mutex, the program's resource,
// the timer resolution, the code-signature check and the system threads.

#include "cross/tests/ChildProcess.h"
#include "platform/CodeSignature.h"
#include "platform/SystemThreads.h"
#include "platform/Ticks.h"
#include "platform/win/NamedMutex.h"
#include "platform/win/ProgramResourceBytes.h"
#include "platform/win/UniqueHandle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <string_view>
#include <thread>

#include <windows.h>

namespace {
using Outcome = NamedMutexResult::Outcome;

// A name of this process's own, so that no other test run meets it.
std::wstring TestMutexName(const char* what)
{
    return L"GXTest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::wstring(what, what + std::char_traits<char>::length(what));
}

// The outcome a wait of no time has on another thread, which owns nothing yet.
Outcome OutcomeOnAnotherThread(const std::wstring& name)
{
    Outcome outcome = Outcome::Failed;
    std::thread([&] { outcome = AcquireNamedMutex(name.c_str(), 0).outcome; }).join();
    return outcome;
}

// The child "instance": tries the loader's own mutex once and says what came of it.
int ChildTriesTheInstanceMutex()
{
    switch (AcquireNamedMutex(kInstanceMutexName, 0).outcome) {
        case Outcome::Held:
            return 10;
        case Outcome::Busy:
            return 11;
        case Outcome::Failed:
            break;
    }
    return 12;
}
const bool childRegistered = RegisterChild("instance", ChildTriesTheInstanceMutex);

TEST(SingleInstanceMutex, IsHeldUntilItsOwnerGoes)
{
    const std::wstring name = TestMutexName("held");
    EXPECT_FALSE(NamedMutexExists(name.c_str()));
    // Keeps the mutex in existence past its owner, as a copy that waits for it does.
    UniqueHandle waiter;
    {
        NamedMutexResult first = AcquireNamedMutex(name.c_str(), 0);
        ASSERT_EQ(first.outcome, Outcome::Held);
        ASSERT_NE(first.owner, nullptr);
        EXPECT_TRUE(NamedMutexExists(name.c_str()));
        waiter.reset(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
        ASSERT_NE(waiter, nullptr);
        EXPECT_EQ(OutcomeOnAnotherThread(name), Outcome::Busy);
        // A wait that runs out ends the same way, and nothing is left owned by it.
        std::thread([&] {
            const NamedMutexResult waited = AcquireNamedMutex(name.c_str(), 20);
            EXPECT_EQ(waited.outcome, Outcome::Busy);
            EXPECT_EQ(waited.owner, nullptr);
        }).join();
    }
    // Released, not left abandoned: the next owner takes it normally.
    EXPECT_EQ(OutcomeOnAnotherThread(name), Outcome::Held);
    waiter.reset();
    EXPECT_FALSE(NamedMutexExists(name.c_str()));
}

TEST(SingleInstanceMutex, ASecondProcessFindsTheLoadersMutexTaken)
{
    ASSERT_TRUE(childRegistered);
    {
        const NamedMutexResult held = AcquireNamedMutex(kInstanceMutexName, 0);
        ASSERT_EQ(held.outcome, Outcome::Held);
        EXPECT_EQ(RunChildProcess("instance"), 11);
    }
    // Released: the next copy gets it.
    EXPECT_EQ(RunChildProcess("instance"), 10);
}

// A copy that ended without releasing the mutex (it crashed, say) leaves it abandoned; the next
// one ends as a second copy would, rather than run beside whatever the first left behind.
TEST(SingleInstanceMutex, AnAbandonedMutexCountsAsAnotherCopy)
{
    const std::wstring name = TestMutexName("abandoned");
    UniqueHandle kept;
    std::thread([&] {
        kept.reset(CreateMutexW(nullptr, FALSE, name.c_str()));
        WaitForSingleObject(kept.get(), 0);  // owned, then the thread ends without releasing
    }).join();
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(OutcomeOnAnotherThread(name), Outcome::Busy);
}

TEST(SingleInstanceMutex, AMutexThatCannotBeMadeIsUnavailableWithTheSystemsReason)
{
    // A name in a namespace that does not exist.
    const NamedMutexResult result = AcquireNamedMutex(L"NoSuchNamespace\\GXTest", 0);
    EXPECT_EQ(result.outcome, Outcome::Failed);
    EXPECT_EQ(result.owner, nullptr);
    EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST(SystemErrorText, IsTheSystemsTextWithoutItsLineEnd)
{
    const std::wstring text = SystemErrorText(ERROR_PATH_NOT_FOUND);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), L'\n');
    EXPECT_NE(text.back(), L'\r');
    EXPECT_NE(text.back(), L' ');
    EXPECT_NE(text.front(), L' ');
    EXPECT_EQ(text.rfind(L"error ", 0), std::wstring::npos) << "the system has a text for it";
    // A code the system has no text for is shown by its number.
    EXPECT_EQ(SystemErrorText(0x20001234), L"error 536875572");
}

struct ResourceCase {
    const wchar_t* name;
    const wchar_t* type;
    bool found;
};

class ProgramResource : public testing::TestWithParam<ResourceCase> {};

TEST_P(ProgramResource, IsFoundByItsNameAndTheNameOfItsType)
{
    const std::optional<std::string_view> bytes =
        ProgramResourceBytes(GetParam().name, GetParam().type);
    ASSERT_EQ(bytes.has_value(), GetParam().found);
    if (!bytes) return;
    // Every byte as compiled in (WinPlatformTest.rc), zeros and 0xFF included, nothing added.
    EXPECT_EQ(*bytes, std::string_view("GXST\x00\x01\xFF\xFF\x00\x7F\x00"
                                       "end",
                                       14));
}

INSTANTIATE_TEST_SUITE_P(
    Lookups, ProgramResource,
    testing::Values(ResourceCase{L"FRMV", L"RC_DATA", true},
                    // Names and type names are found in any letter case, as Windows looks them up.
                    ResourceCase{L"frmv", L"rc_data", true},
                    ResourceCase{L"FRMX", L"RC_DATA", false},
                    ResourceCase{L"FRMV", L"RCDATA", false},
                    // Under the numeric type only: not found by the type's name.
                    ResourceCase{L"FRMN", L"RC_DATA", false}));

TEST(FineTimerResolution, RaisesTheResolutionForItsLifetime)
{
    // timeBeginPeriod counts its requests: holders may nest, each giving its own back.
    const FineTimerResolution outer;
    EXPECT_TRUE(outer.Raised());
    {
        const FineTimerResolution inner;
        EXPECT_TRUE(inner.Raised());
    }
    PauseMs(1);
}

// Windows, and wine alike, answer "no signature" for an unsigned program such as this test: the
// check fails, and the loader would end at once. A build meant for technicians must be signed.
TEST(CodeSignature, AnUnsignedProgramFailsTheCheck)
{
    EXPECT_FALSE(VerifyOwnCodeSignature());
}

TEST(SystemThreads, EachThreadHasItsOwnSystemIdentity)
{
    const uint64_t mine = CurrentSystemThreadId();
    EXPECT_EQ(mine, GetCurrentThreadId());
    uint64_t other = 0;
    std::thread([&] { other = CurrentSystemThreadId(); }).join();
    EXPECT_NE(other, 0u);
    EXPECT_NE(other, mine);
}

TEST(SystemThreads, AwaitingAThreadEndsWhenItHasGone)
{
    const UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_NE(release, nullptr);
    std::atomic<uint64_t> id{0};
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        id = CurrentSystemThreadId();
        WaitForSingleObject(release.get(), INFINITE);
        finished = true;
    });
    while (id == 0) Sleep(1);

    // A thread that is still there is waited for only as long as asked.
    AwaitSystemThreadExit(id, 20);
    EXPECT_FALSE(finished);

    SetEvent(release.get());
    AwaitSystemThreadExit(id, 30000);
    EXPECT_TRUE(finished);
    const UniqueHandle thread(OpenThread(SYNCHRONIZE, FALSE, static_cast<DWORD>(id.load())));
    if (thread) {
        EXPECT_EQ(WaitForSingleObject(thread.get(), 0), WAIT_OBJECT_0);
    }
    worker.join();
}
}  // namespace
