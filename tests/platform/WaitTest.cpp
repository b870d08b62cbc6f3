#include "Platform/Event.h"
#include "Platform/Mutex.h"
#include "Platform/SystemError.h"
#include "Platform/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

using namespace Tav::Platform;

TEST(Wait, AutoResetEventReleasesOneWaitAndResets)
{
    Event e(false, true);
    EXPECT_EQ(WaitForSingleObject(e, 0), WaitObject0);
    EXPECT_EQ(WaitForSingleObject(e, 0), WaitTimedOut);
    EXPECT_FALSE(e.IsSet());
}

TEST(Wait, ManualResetEventStaysSetUntilReset)
{
    Event e(true, false);
    EXPECT_EQ(WaitForSingleObject(e, 10), WaitTimedOut);
    e.Set();
    EXPECT_EQ(WaitForSingleObject(e, 0), WaitObject0);
    EXPECT_EQ(WaitForSingleObject(e, 0), WaitObject0);
    e.Reset();
    EXPECT_EQ(WaitForSingleObject(e, 0), WaitTimedOut);
}

TEST(Wait, AnyReturnsLowestSignalledIndexAndConsumesOnlyThatOne)
{
    Event a(false, false), b(false, true), c(false, true);
    EXPECT_EQ(WaitForMultipleObjects({&a, &b, &c}, false, 0), WaitObject0 + 1);
    EXPECT_TRUE(c.IsSet());
    EXPECT_EQ(WaitForMultipleObjects({&a, &b, &c}, false, 0), WaitObject0 + 2);
    EXPECT_EQ(WaitForMultipleObjects({&a, &b, &c}, false, 0), WaitTimedOut);
}

TEST(Wait, AllTakesEverythingOrNothing)
{
    Event ready(true, true);
    Event token(false, true);
    Mutex m;
    Event closed(true, false);

    // One object not signalled: nothing is consumed.
    EXPECT_EQ(WaitForMultipleObjects({&token, &m, &closed}, true, 0), WaitTimedOut);
    EXPECT_TRUE(token.IsSet());
    EXPECT_FALSE(m.IsOwnedByCaller());

    EXPECT_EQ(WaitForMultipleObjects({&ready, &token, &m}, true, 0), WaitObject0);
    EXPECT_FALSE(token.IsSet());
    EXPECT_TRUE(m.IsOwnedByCaller());
    EXPECT_TRUE(m.Release());
}

TEST(Wait, RejectsBadArguments)
{
    Event e(true, true);
    Waitable* none[] = {nullptr};
    EXPECT_EQ(WaitForMultipleObjects(1, none, false, 0), WaitFailed);
    EXPECT_EQ(GetLastError(), ErrorInvalidHandle);
    EXPECT_EQ(WaitForMultipleObjects(0, none, false, 0), WaitFailed);
    EXPECT_EQ(GetLastError(), ErrorInvalidParameter);
    EXPECT_EQ(WaitForMultipleObjects({&e, &e}, true, 0), WaitFailed);
}

TEST(Wait, MutexIsReentrantForItsOwnerAndExclusiveForOthers)
{
    Mutex m;
    ASSERT_EQ(WaitForSingleObject(m, 0), WaitObject0);
    ASSERT_EQ(WaitForSingleObject(m, 0), WaitObject0);

    std::atomic<uint32_t> otherResult{12345};
    Thread other;
    ASSERT_TRUE(other.Start([&] { otherResult = WaitForSingleObject(m, 20); }));
    ASSERT_TRUE(other.Join(Infinite));
    EXPECT_EQ(otherResult.load(), WaitTimedOut);

    EXPECT_TRUE(m.Release());
    EXPECT_TRUE(m.Release());
    EXPECT_FALSE(m.Release());
    EXPECT_EQ(GetLastError(), ErrorNotOwner);
}

TEST(Wait, BlockedWaiterWakesWhenAnotherThreadSets)
{
    Event go(false, false);
    Event done(true, false);
    Thread waiter;
    ASSERT_TRUE(waiter.Start([&] {
        if (WaitForSingleObject(go, Infinite) == WaitObject0)
            done.Set();
    }));
    EXPECT_FALSE(waiter.Join(20));
    go.Set();
    EXPECT_EQ(WaitForSingleObject(done, 5000), WaitObject0);
    EXPECT_TRUE(waiter.Join(5000));
}

TEST(Wait, WaitAllBlocksUntilMutexIsReleasedElsewhere)
{
    Mutex m;
    Event ready(true, true);
    Event owned(true, false);
    Event release(true, false);
    Thread owner;
    ASSERT_TRUE(owner.Start([&] {
        WaitForSingleObject(m, Infinite);
        owned.Set();
        WaitForSingleObject(release, Infinite);
        m.Release();
    }));
    ASSERT_EQ(WaitForSingleObject(owned, 5000), WaitObject0);
    EXPECT_EQ(WaitForMultipleObjects({&ready, &m}, true, 10), WaitTimedOut);
    release.Set();
    EXPECT_EQ(WaitForMultipleObjects({&ready, &m}, true, 5000), WaitObject0);
    EXPECT_TRUE(m.Release());
    EXPECT_TRUE(owner.Join(5000));
}

TEST(Thread, JoinTimesOutWhileRunningAndAbandonLeavesItRunning)
{
    Event release(true, false);
    Event finished(true, false);
    auto thread = std::make_unique<Thread>();
    ASSERT_TRUE(thread->Start([&] {
        WaitForSingleObject(release, Infinite);
        finished.Set();
    }));
    EXPECT_FALSE(thread->Join(10));
    EXPECT_FALSE(thread->HasEnded());
    thread->Abandon();
    EXPECT_FALSE(thread->IsAttached());
    EXPECT_TRUE(thread->Join(0));
    thread.reset();
    // The abandoned thread runs on to its end by itself.
    release.Set();
    EXPECT_EQ(WaitForSingleObject(finished, 5000), WaitObject0);
}

TEST(Thread, StartTwiceWithoutJoinIsRefused)
{
    Event release(true, false);
    Thread t;
    ASSERT_TRUE(t.Start([&] { WaitForSingleObject(release, Infinite); }));
    EXPECT_FALSE(t.Start([] {}));
    EXPECT_EQ(GetLastError(), ErrorInvalidParameter);
    release.Set();
    EXPECT_TRUE(t.Join(5000));
}
