#include "Common/CriticalSectionWin32.h"
#include "Platform/Event.h"
#include "Platform/Thread.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace Tav;

TEST(CriticalSection, HolderMayEnterAgainAndOthersWaitForTheLastLeave)
{
    CCriticalSectionWin32 section;
    section.Create();
    EXPECT_TRUE(section.IsCreated());
    EXPECT_FALSE(section.TryEnter());

    section.Enter();
    section.Enter();
    std::atomic<bool> entered{false};
    Platform::Event inside(true, false);
    Platform::Thread other;
    ASSERT_TRUE(other.Start([&] {
        section.Enter();
        entered = true;
        inside.Set();
        section.Leave();
    }));
    section.Leave();
    EXPECT_EQ(Platform::WaitForSingleObject(inside, 30), Platform::WaitTimedOut);
    EXPECT_FALSE(entered.load());
    section.Leave();
    EXPECT_EQ(Platform::WaitForSingleObject(inside, 5000), Platform::WaitObject0);
    ASSERT_TRUE(other.Join(5000));

    section.Delete();
    EXPECT_FALSE(section.IsCreated());
}
