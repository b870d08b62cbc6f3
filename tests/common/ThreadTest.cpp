#include "Common/SignaledThreadBaseWin32.h"
#include "Platform/Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

using namespace Tav;

namespace {

class FailingStartThread : public CThreadBaseWin32 {
public:
    ~FailingStartThread() override { Stop(); }
    void OnThreadStart() override { throw CCommonException(0xCEF00001, 17, "Worker.cpp", "start failed"); }
    void Run() override { ran = true; }
    std::atomic<bool> ran{false};
};

class QuickThread : public CThreadBaseWin32 {
public:
    ~QuickThread() override { Stop(); }
    void Run() override { ++runs; }
    std::atomic<int> runs{0};
};

// A signaled worker with one work key; it records every dispatched key.
class Worker : public CSignaledThreadBaseWin32 {
public:
    explicit Worker(int maxSignals = 2) : maxSignals(maxSignals) {}
    ~Worker() override
    {
        RequestStop();
        Join(stopTimeout);
    }
    int GetMaxSignals() override { return maxSignals; }
    bool OnSignal(int key) override
    {
        if (key < 0)
            return CSignaledThreadBaseWin32::OnSignal(key);
        {
            std::lock_guard<std::mutex> g(keysMutex);
            keys.push_back(key);
        }
        handled.Set();
        if (key == 2) {
            inGate.Set();
            Platform::WaitForSingleObject(gate, Platform::Infinite);
        }
        if (key == 99)
            throw CCommonException(0xCEF00001, 5, "Worker.cpp", "work failed");
        return true;
    }
    std::vector<int> Keys()
    {
        std::lock_guard<std::mutex> g(keysMutex);
        return keys;
    }

    Platform::Event handled{false, false};
    Platform::Event inGate{true, false};
    Platform::Event gate{true, false};

private:
    int maxSignals;
    std::mutex keysMutex;
    std::vector<int> keys;
};

} // namespace

TEST(Thread, FailingStartHookMakesWaitUntilStartedRethrow)
{
    FailingStartThread t;
    t.CreateThreadResources();
    t.StartThread();
    try {
        t.WaitUntilStarted(-1);
        FAIL() << "no exception";
    } catch (const CException& e) {
        EXPECT_EQ(e.GetCode(), 0xCEF00001u);
        EXPECT_EQ(e.GetLine(), 17);
        EXPECT_EQ(e.GetDescription(), "start failed");
    }
    EXPECT_TRUE(t.Join(5000));
    EXPECT_FALSE(t.ran.load());
    EXPECT_TRUE(t.HasThreadError());
}

TEST(Thread, StopOnNeverStartedThreadReturnsAtOnce)
{
    QuickThread t;
    t.CreateThreadResources();
    EXPECT_TRUE(t.Stop());
    EXPECT_FALSE(t.HasThreadError());
}

TEST(Thread, RestartRunsTheBodyAgain)
{
    QuickThread t;
    t.CreateThreadResources();
    t.StartThread();
    t.WaitUntilStarted(-1);
    EXPECT_TRUE(t.Join(5000));
    t.StartThread();
    t.WaitUntilStarted(5000);
    EXPECT_TRUE(t.Stop());
    EXPECT_EQ(t.runs.load(), 2);
}

TEST(Thread, WaitUntilStartedTimesOutWithoutStart)
{
    QuickThread t;
    t.CreateThreadResources();
    try {
        t.WaitUntilStarted(0);
        FAIL() << "no exception";
    } catch (const CException& e) {
        EXPECT_EQ(e.GetCode(), 0xCEF00203u);
        EXPECT_EQ(e.GetLine(), 56);
        EXPECT_EQ(e.GetFile(), "ThreadBase.cpp");
    }
}

TEST(SignaledThread, SignalTableRules)
{
    Worker w(3);
    w.CreateThreadResources();
    EXPECT_EQ(w.GetSignalCount(), 1); // the stop signal

    auto expectRejected = [&](int key, int line) {
        try {
            w.AddSignal(key);
            FAIL() << "key " << key << " accepted";
        } catch (const CException& e) {
            EXPECT_EQ(e.GetCode(), 0xCEF00000u);
            EXPECT_EQ(e.GetLine(), line);
        }
    };
    expectRejected(-1, 74);
    w.AddSignal(4);
    expectRejected(4, 77);
    w.AddSignal(5);
    expectRejected(6, 92); // table full
    EXPECT_EQ(w.GetSignalCount(), 3);
}

TEST(SignaledThread, TwoSignalThreadTakesExactlyOneUserKey)
{
    Worker w(2);
    w.CreateThreadResources();
    w.AddSignal(1);
    EXPECT_THROW(w.AddSignal(2), CException);
}

TEST(SignaledThread, DispatchesWorkAndStopsOnTheStopSignal)
{
    Worker w;
    w.CreateThreadResources();
    w.AddSignal(1);
    w.StartThread();
    w.WaitUntilStarted(-1);
    w.SetSignal(1);
    ASSERT_EQ(Platform::WaitForSingleObject(w.handled, 5000), Platform::WaitObject0);
    w.SetSignal(42); // unknown keys are ignored
    EXPECT_TRUE(w.Stop());
    EXPECT_EQ(w.Keys(), std::vector<int>{1});
    EXPECT_FALSE(w.HasThreadError());
}

TEST(SignaledThread, StopSignalWinsOverPendingWork)
{
    Worker w(3);
    w.CreateThreadResources();
    w.AddSignal(1);
    w.AddSignal(2); // key 2 holds the worker until the gate opens
    w.StartThread();
    w.WaitUntilStarted(-1);
    w.SetSignal(2);
    ASSERT_EQ(Platform::WaitForSingleObject(w.inGate, 5000), Platform::WaitObject0);
    // Work and stop are both pending when the worker next looks.
    w.SetSignal(1);
    w.RequestStop();
    w.gate.Set();
    EXPECT_TRUE(w.Join(5000));
    EXPECT_EQ(w.Keys(), std::vector<int>{2});
}

TEST(SignaledThread, ExceptionFromOnSignalEndsTheThreadAndIsKept)
{
    Worker w;
    w.CreateThreadResources();
    w.AddSignal(99);
    w.StartThread();
    w.WaitUntilStarted(-1);
    w.SetSignal(99);
    EXPECT_TRUE(w.Join(5000));
    ASSERT_TRUE(w.HasThreadError());
    EXPECT_EQ(w.GetThreadError()->GetDescription(), "work failed");
}

TEST(SignaledThread, BaseOnSignalRejectsUnknownKeys)
{
    Worker w;
    try {
        w.CSignaledThreadBaseWin32::OnSignal(3);
        FAIL();
    } catch (const CException& e) {
        EXPECT_EQ(e.GetLine(), 86);
        EXPECT_EQ(e.GetFile(), "TavSignaledThreadBase.cpp");
    }
    EXPECT_FALSE(w.CSignaledThreadBaseWin32::OnSignal(-1));
}
