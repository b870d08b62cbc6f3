#include "Platform/CompletionPort.h"
#include "Platform/DeviceDriver.h"
#include "Platform/DeviceInterfaces.h"
#include "Platform/DeviceIo.h"
#include "Platform/DeviceNotification.h"
#include "Platform/Event.h"
#include "Platform/MessageWindow.h"
#include "Platform/SystemError.h"
#include "Platform/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <strings.h>
#include <thread>
#include <vector>

using namespace Tav::Platform;

namespace {

const Guid testClass{0x12345678, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};

enum : uint32_t { Echo = 1, Keep = 2, Fail = 3 };

// Echo copies input to output at once; Keep holds the request until
// CompleteKept; Fail fails at once with ErrorGenFailure.
class FakeFile final : public DeviceFile {
public:
    const void* Device() const override { return this; }

    void Dispatch(const IoRequestPtr& r) override
    {
        switch (r->Code()) {
        case Echo: {
            const uint32_t n = std::min(r->InputSize(), r->OutputSize());
            std::memcpy(r->Output(), r->Input(), n);
            r->Complete(ErrorSuccess, n);
            break;
        }
        case Keep: {
            std::lock_guard<std::mutex> guard(mutex);
            kept.push_back(r);
            keptOne.Set();
            break;
        }
        default: r->Complete(ErrorGenFailure, 0);
        }
    }

    void Cancel(uint64_t thread) override { Finish(thread, ErrorOperationAborted); }
    void Close() override { Finish(0, ErrorOperationAborted); }

    void Finish(uint64_t thread, uint32_t status)
    {
        std::vector<IoRequestPtr> done;
        {
            std::lock_guard<std::mutex> guard(mutex);
            for (auto it = kept.begin(); it != kept.end();)
                if (!thread || (*it)->Thread() == thread) {
                    done.push_back(*it);
                    it = kept.erase(it);
                } else {
                    ++it;
                }
        }
        for (auto& r : done)
            r->Complete(status, status ? 0 : 4);
    }

    size_t Kept()
    {
        std::lock_guard<std::mutex> guard(mutex);
        return kept.size();
    }

    Event keptOne{false, false};

private:
    std::mutex mutex;
    std::vector<IoRequestPtr> kept;
};

class FakeDriver final : public DeviceDriver {
public:
    std::vector<std::string> InterfacePaths(const Guid& cls) override
    {
        if (!(cls == testClass))
            return {};
        return {"\\\\?\\fake#one", "\\\\?\\fake#two"};
    }

    std::shared_ptr<DeviceFile> Open(const std::string& path, uint32_t& error) override
    {
        if (strcasecmp(path.c_str(), "\\\\?\\fake#one") != 0) {
            error = ErrorFileNotFound;
            return nullptr;
        }
        last = std::make_shared<FakeFile>();
        return last;
    }

    std::shared_ptr<FakeFile> last;
};

class DeviceIo : public ::testing::Test {
protected:
    void SetUp() override
    {
        driver = std::make_shared<FakeDriver>();
        RegisterDeviceDriver(driver);
        handle = OpenDevice("\\\\?\\FAKE#ONE");
        ASSERT_NE(handle, InvalidDeviceHandle);
        file = driver->last;
        port = CompletionPort::Create();
        ASSERT_TRUE(AssociateDeviceWithPort(handle, port, 42));
    }

    void TearDown() override
    {
        CloseDevice(handle);
        UnregisterDeviceDriver(driver.get());
    }

    std::shared_ptr<FakeDriver> driver;
    std::shared_ptr<FakeFile> file;
    std::shared_ptr<CompletionPort> port;
    DeviceHandle handle = InvalidDeviceHandle;
};

} // namespace

TEST(DeviceInterfaces, EnumeratesTheDriversPaths)
{
    auto driver = std::make_shared<FakeDriver>();
    RegisterDeviceDriver(driver);
    RegisterDeviceDriver(driver); // once only
    auto set = DeviceInfoSet::GetClassDevices(testClass, DigcfPresent | DigcfDeviceInterface);
    ASSERT_TRUE(set);
    EXPECT_EQ(set->Size(), 2u);
    DeviceInterfaceData data;
    ASSERT_TRUE(set->EnumInterfaces(testClass, 1, data));
    EXPECT_EQ(GetLastError(), ErrorSuccess);
    uint32_t required = 0;
    EXPECT_FALSE(set->GetInterfaceDetail(data, nullptr, 0, &required));
    EXPECT_EQ(GetLastError(), ErrorInsufficientBuffer);
    EXPECT_EQ(required, std::strlen("\\\\?\\fake#two") + 1);
    std::vector<char> path(required);
    EXPECT_FALSE(set->GetInterfaceDetail(data, path.data(), required - 1, nullptr));
    ASSERT_TRUE(set->GetInterfaceDetail(data, path.data(), required, nullptr));
    EXPECT_STREQ(path.data(), "\\\\?\\fake#two");
    EXPECT_FALSE(set->EnumInterfaces(testClass, 2, data));
    EXPECT_EQ(GetLastError(), ErrorNoMoreItems);
    EXPECT_FALSE(DeviceInfoSet::GetClassDevices(testClass, DigcfPresent));
    EXPECT_EQ(GetLastError(), ErrorInvalidParameter);
    UnregisterDeviceDriver(driver.get());
    EXPECT_EQ(DeviceInfoSet::GetClassDevices(testClass, DigcfPresent | DigcfDeviceInterface)->Size(), 0u);
}

TEST(DeviceHandles, UnknownPathsAndHandles)
{
    EXPECT_EQ(OpenDevice("\\\\?\\nobody#here"), InvalidDeviceHandle);
    EXPECT_EQ(GetLastError(), ErrorFileNotFound);
    EXPECT_FALSE(CloseDevice(12345));
    EXPECT_EQ(GetLastError(), ErrorInvalidHandle);
    uint32_t bytes;
    EXPECT_FALSE(DeviceIoControl(12345, Echo, nullptr, 0, nullptr, 0, &bytes, nullptr));
    EXPECT_EQ(GetLastError(), ErrorInvalidHandle);
}

TEST_F(DeviceIo, SynchronousRequestsReturnTheDriversResult)
{
    const char in[] = "abc";
    char out[8] = {};
    uint32_t bytes = 0;
    ASSERT_TRUE(DeviceIoControl(handle, Echo, in, 4, out, sizeof out, &bytes, nullptr));
    EXPECT_EQ(bytes, 4u);
    EXPECT_STREQ(out, "abc");
    EXPECT_FALSE(DeviceIoControl(handle, Fail, nullptr, 0, nullptr, 0, &bytes, nullptr));
    EXPECT_EQ(GetLastError(), ErrorGenFailure);
    EXPECT_EQ(port->Pending(), 0u); // synchronous requests never reach the port

    // A kept synchronous request returns once the driver finishes it.
    std::thread finisher([this] {
        WaitForSingleObject(file->keptOne, Infinite);
        file->Finish(0, ErrorSuccess);
    });
    char kept[4];
    EXPECT_TRUE(DeviceIoControl(handle, Keep, nullptr, 0, kept, sizeof kept, &bytes, nullptr));
    EXPECT_EQ(bytes, 4u);
    finisher.join();
}

TEST_F(DeviceIo, OverlappedCompletionsReachThePortUnlessBitZeroIsSet)
{
    uint32_t bytes;
    uintptr_t key;
    Overlapped* done;

    Overlapped immediate;
    char out[4];
    ASSERT_TRUE(DeviceIoControl(handle, Echo, "xyz", 4, out, 4, nullptr, &immediate));
    ASSERT_TRUE(port->Get(bytes, key, done, 0));
    EXPECT_EQ(done, &immediate);
    EXPECT_EQ(key, 42u);
    EXPECT_EQ(bytes, 4u);

    Overlapped failed;
    EXPECT_FALSE(DeviceIoControl(handle, Fail, nullptr, 0, nullptr, 0, nullptr, &failed));
    EXPECT_EQ(GetLastError(), ErrorGenFailure);
    EXPECT_EQ(port->Pending(), 0u);

    Overlapped pending;
    EXPECT_FALSE(DeviceIoControl(handle, Keep, nullptr, 0, out, 4, nullptr, &pending));
    EXPECT_EQ(GetLastError(), ErrorIoPending);
    EXPECT_FALSE(GetOverlappedResult(handle, &pending, &bytes, false));
    EXPECT_EQ(GetLastError(), ErrorIoIncomplete);
    file->Finish(0, 0xEFE00021u);
    EXPECT_FALSE(port->Get(bytes, key, done, 0));
    EXPECT_EQ(done, &pending);
    EXPECT_EQ(GetLastError(), 0xEFE00021u); // driver codes pass unchanged
    EXPECT_EQ(RequestStatus(pending), 0xEFE00021u);

    Event event(true, false);
    Overlapped quiet;
    quiet.event = OverlappedEvent(&event, true);
    EXPECT_FALSE(DeviceIoControl(handle, Keep, nullptr, 0, out, 4, nullptr, &quiet));
    file->Finish(0, ErrorSuccess);
    EXPECT_EQ(WaitForSingleObject(event, 0), WaitObject0);
    EXPECT_TRUE(GetOverlappedResult(handle, &quiet, &bytes, true));
    EXPECT_EQ(bytes, 4u);
    EXPECT_EQ(port->Pending(), 0u);
}

TEST_F(DeviceIo, CancelIoAbortsTheCallersRequestsAndClosingAbortsAll)
{
    char out[4];
    Overlapped mine, theirs;
    EXPECT_FALSE(DeviceIoControl(handle, Keep, nullptr, 0, out, 4, nullptr, &mine));
    std::thread other([&] { DeviceIoControl(handle, Keep, nullptr, 0, out, 4, nullptr, &theirs); });
    other.join();
    ASSERT_EQ(file->Kept(), 2u);
    EXPECT_TRUE(CancelIo(handle));
    EXPECT_EQ(file->Kept(), 1u);
    EXPECT_EQ(RequestStatus(mine), ErrorOperationAborted);
    EXPECT_EQ(RequestStatus(theirs), ErrorIoPending);
    EXPECT_TRUE(CloseDevice(handle));
    EXPECT_EQ(RequestStatus(theirs), ErrorOperationAborted);
    EXPECT_EQ(port->Pending(), 2u); // the port outlives the handle's association
    EXPECT_FALSE(AssociateDeviceWithPort(handle, port, 1));
    handle = InvalidDeviceHandle;
}

TEST(CompletionPorts, FirstInFirstOutAndTimeOut)
{
    auto port = CompletionPort::Create();
    Overlapped a, b;
    ASSERT_TRUE(port->Post(1, 10, &a));
    ASSERT_TRUE(port->Post(2, 20, &b));
    uint32_t bytes;
    uintptr_t key;
    Overlapped* o;
    ASSERT_TRUE(port->Get(bytes, key, o, 0));
    EXPECT_EQ(o, &a);
    EXPECT_EQ(key, 10u);
    ASSERT_TRUE(port->Get(bytes, key, o, 0));
    EXPECT_EQ(o, &b);
    EXPECT_EQ(bytes, 2u);
    EXPECT_FALSE(port->Get(bytes, key, o, 5));
    EXPECT_EQ(o, nullptr);
    EXPECT_EQ(GetLastError(), WaitTimeout);

    // A waiter without limit is woken by a post from another thread.
    std::thread poster([&] { port->Post(0, 7, nullptr); });
    EXPECT_TRUE(port->Get(bytes, key, o, Infinite));
    EXPECT_EQ(key, 7u);
    poster.join();
}

namespace {

// A window on its own thread, recording the device-change broadcasts it gets.
struct WindowThread {
    std::thread thread;
    WindowHandle window = 0;
    Event ready{true, false};
    std::atomic<int> received{0};
    uint32_t lastEvent = 0;
    DeviceHandle lastHandle = InvalidDeviceHandle;
    NotificationHandle lastNotification = 0;
    std::string lastPath;
    std::thread::id handledOn;
    intptr_t answer = 0;

    WindowThread()
    {
        thread = std::thread([this] {
            window = CreateMessageWindow("test", [this](WindowHandle w, uint32_t m, uintptr_t wp, intptr_t lp) -> intptr_t {
                if (m == WmDeviceChange) {
                    lastEvent = uint32_t(wp);
                    const auto* h = reinterpret_cast<const DevBroadcastHeader*>(lp);
                    if (h->deviceType == DbtDevtypHandle) {
                        lastHandle = reinterpret_cast<const DevBroadcastHandle*>(lp)->handle;
                        lastNotification = reinterpret_cast<const DevBroadcastHandle*>(lp)->notification;
                    } else {
                        lastPath = reinterpret_cast<const DevBroadcastDeviceInterface*>(lp)->name;
                    }
                    handledOn = std::this_thread::get_id();
                    ++received;
                    return answer;
                }
                if (m == WmDestroy)
                    PostQuitMessage(3);
                return DefaultWindowProcedure(w, m, wp, lp);
            });
            ready.Set();
            RunMessageLoop();
        });
        WaitForSingleObject(ready, Infinite);
    }

    ~WindowThread()
    {
        PostMessage(window, WmClose, 0, 0);
        thread.join();
    }
};

} // namespace

TEST_F(DeviceIo, HandleNotificationsAreSentToTheWindowOnItsThread)
{
    WindowThread w;
    DevBroadcastHandle filter;
    filter.handle = handle;
    const NotificationHandle n = RegisterDeviceNotification(w.window, &filter.header);
    ASSERT_NE(n, 0u);

    EXPECT_TRUE(BroadcastHandleEvent(file.get(), DbtDeviceQueryRemove));
    EXPECT_EQ(w.received, 1);
    EXPECT_EQ(w.lastEvent, DbtDeviceQueryRemove);
    EXPECT_EQ(w.lastHandle, handle);
    EXPECT_EQ(w.lastNotification, n);
    EXPECT_EQ(w.handledOn, w.thread.get_id());

    w.answer = BroadcastQueryDeny;
    EXPECT_FALSE(BroadcastHandleEvent(file.get(), DbtDeviceQueryRemove));
    EXPECT_TRUE(BroadcastHandleEvent(file.get(), DbtDeviceRemoveComplete)); // only a query can be denied

    // A registration outlives the handle until it is given up.
    const DeviceHandle old = handle;
    CloseDevice(handle);
    handle = InvalidDeviceHandle;
    EXPECT_TRUE(BroadcastHandleEvent(file.get(), DbtDeviceRemoveComplete));
    EXPECT_EQ(w.lastHandle, old);
    EXPECT_TRUE(UnregisterDeviceNotification(n));
    EXPECT_FALSE(UnregisterDeviceNotification(n));
    const int before = w.received;
    BroadcastHandleEvent(file.get(), DbtDeviceRemoveComplete);
    EXPECT_EQ(w.received, before);
}

TEST(DeviceNotifications, InterfaceBroadcastsAndBadRegistrations)
{
    WindowThread w;
    DevBroadcastDeviceInterface filter;
    filter.classGuid = testClass;
    const NotificationHandle n = RegisterDeviceNotification(w.window, &filter.header);
    ASSERT_NE(n, 0u);
    BroadcastInterfaceEvent(testClass, "\\\\?\\fake#one", DbtDeviceArrival);
    EXPECT_EQ(w.lastEvent, DbtDeviceArrival);
    EXPECT_EQ(w.lastPath, "\\\\?\\fake#one");
    BroadcastInterfaceEvent(Guid{}, "other", DbtDeviceArrival);
    EXPECT_EQ(w.received, 1);
    UnregisterDeviceNotification(n);

    EXPECT_EQ(RegisterDeviceNotification(0x999999, &filter.header), 0u);
    EXPECT_EQ(GetLastError(), ErrorInvalidWindowHandle);
    DevBroadcastHandle stale;
    stale.handle = 4242;
    EXPECT_EQ(RegisterDeviceNotification(w.window, &stale.header), 0u);
    EXPECT_EQ(GetLastError(), ErrorInvalidHandle);
}

TEST(MessageWindows, ProceduresCanBeReplacedAndWindowsEndWithTheirThread)
{
    WindowHandle window = 0;
    {
        WindowProcedure previous; // outlives the window that calls it
        WindowThread w;
        window = w.window;
        EXPECT_TRUE(IsWindow(window));
        ASSERT_TRUE(SetWindowProcedure(window, [&previous](WindowHandle h, uint32_t m, uintptr_t wp, intptr_t lp) -> intptr_t {
            return m == WmUser ? intptr_t(wp * 2) : previous(h, m, wp, lp);
        }, &previous));
        EXPECT_EQ(SendMessage(window, WmUser, 21, 0), 42);
        // Messages other than WM_USER still reach the old procedure: WM_CLOSE ends the thread.
    }
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(SendMessage(window, WmUser, 1, 0), 0);
    EXPECT_FALSE(PostMessage(window, WmUser, 1, 0));
    EXPECT_FALSE(SetWindowProcedure(window, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ErrorInvalidWindowHandle);
}
