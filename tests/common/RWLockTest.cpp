#include "Common/Exception.h"
#include "Common/RWLock.h"
#include "Platform/Event.h"
#include "Platform/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

using namespace Tav;
using Platform::Event;
using Platform::Infinite;
using Platform::Thread;
using Platform::WaitForSingleObject;
using Platform::WaitObject0;

namespace {

// Waits (without sleeping as synchronisation) until `predicate` holds.
template <typename P>
bool Eventually(P predicate)
{
    Event never(true, false);
    for (int i = 0; i < 2000; ++i) {
        if (predicate())
            return true;
        WaitForSingleObject(never, 1);
    }
    return predicate();
}

} // namespace

TEST(RWLock, WaitingWriterBlocksLaterReadersUntilItHasUnlocked)
{
    CRWLock lock;
    lock.Create();

    std::mutex orderMutex;
    std::vector<std::string> order;
    auto record = [&](const std::string& s) {
        std::lock_guard<std::mutex> g(orderMutex);
        order.push_back(s);
    };

    // Two shared holders at once.
    lock.LockShared();
    Event secondHolds(true, false), releaseSecond(true, false);
    Thread second;
    ASSERT_TRUE(second.Start([&] {
        lock.LockShared();
        secondHolds.Set();
        WaitForSingleObject(releaseSecond, Infinite);
        record("reader2-unlock");
        lock.Unlock();
    }));
    ASSERT_EQ(WaitForSingleObject(secondHolds, 5000), WaitObject0);
    EXPECT_EQ(lock.GetSharedCount(), 2);

    // A writer starts waiting.
    Event writerHolds(true, false), releaseWriter(true, false);
    Thread writer;
    ASSERT_TRUE(writer.Start([&] {
        lock.LockExclusive();
        record("writer-lock");
        writerHolds.Set();
        WaitForSingleObject(releaseWriter, Infinite);
        record("writer-unlock");
        lock.Unlock();
    }));
    ASSERT_TRUE(Eventually([&] { return lock.GetExclusiveCount() == 1; }));

    // A reader arriving after the writer began waiting must wait for it.
    Event lateReaderHolds(true, false);
    Thread lateReader;
    ASSERT_TRUE(lateReader.Start([&] {
        lock.LockShared();
        record("late-reader-lock");
        lateReaderHolds.Set();
        lock.Unlock();
    }));
    EXPECT_EQ(WaitForSingleObject(lateReaderHolds, 30), Platform::WaitTimedOut);
    EXPECT_EQ(WaitForSingleObject(writerHolds, 0), Platform::WaitTimedOut);

    record("reader1-unlock");
    lock.Unlock();
    EXPECT_EQ(WaitForSingleObject(writerHolds, 30), Platform::WaitTimedOut) << "a reader still holds";
    releaseSecond.Set();
    ASSERT_EQ(WaitForSingleObject(writerHolds, 5000), WaitObject0);
    EXPECT_EQ(WaitForSingleObject(lateReaderHolds, 30), Platform::WaitTimedOut);
    releaseWriter.Set();
    ASSERT_EQ(WaitForSingleObject(lateReaderHolds, 5000), WaitObject0);

    ASSERT_TRUE(second.Join(5000));
    ASSERT_TRUE(writer.Join(5000));
    ASSERT_TRUE(lateReader.Join(5000));
    const std::vector<std::string> expected = {"reader1-unlock", "reader2-unlock", "writer-lock", "writer-unlock",
                                               "late-reader-lock"};
    EXPECT_EQ(order, expected);
}

TEST(RWLock, CreateAndCloseAreIdempotent)
{
    CRWLock lock;
    EXPECT_FALSE(lock.IsCreated());
    EXPECT_THROW(lock.LockShared(), CException) << "an uncreated lock must not crash";
    lock.Close();
    lock.Create();
    lock.Create();
    EXPECT_TRUE(lock.IsCreated());
    lock.LockExclusive();
    lock.Unlock();
    lock.Close();
    lock.Close();
    EXPECT_FALSE(lock.IsCreated());
    lock.Create();
    lock.LockShared();
    lock.Unlock();
}

TEST(RWLock, ManyThreadsNeverOverlapWriters)
{
    CRWLock lock;
    lock.Create();
    std::atomic<int> readers{0};
    std::atomic<int> writers{0};
    std::atomic<bool> violated{false};
    long counter = 0;
    std::vector<std::unique_ptr<Thread>> threads;
    for (int t = 0; t < 4; ++t) {
        threads.push_back(std::make_unique<Thread>());
        ASSERT_TRUE(threads.back()->Start([&, t] {
            for (int i = 0; i < 2000; ++i) {
                if ((i + t) % 4 == 0) {
                    lock.LockExclusive();
                    if (writers.fetch_add(1) != 0 || readers.load() != 0)
                        violated = true;
                    ++counter;
                    writers.fetch_sub(1);
                    lock.Unlock();
                } else {
                    lock.LockShared();
                    readers.fetch_add(1);
                    if (writers.load() != 0)
                        violated = true;
                    readers.fetch_sub(1);
                    lock.Unlock();
                }
            }
        }));
    }
    for (auto& t : threads)
        ASSERT_TRUE(t->Join(60000));
    EXPECT_FALSE(violated.load());
    EXPECT_EQ(counter, 4 * 500);
}
