#include "Core/Configurator.h"
#include "Core/ModuleLinker.h"
#include "DataBuffer/Guid.h"
#include "DataBuffer/ValueChunk.h"
#include "JvmLoader.h"
#include "Platform/Event.h"
#include "Platform/Thread.h"

#include "support/TestModules.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

using namespace Tav;
using namespace TavTest;

// The VM takes SIGSEGV for its own checks and keeps its memory to the end:
// AddressSanitizer must leave both alone in this program.
extern "C" const char* __asan_default_options()
{
    return "handle_segv=0:allow_user_segv_handler=1:detect_leaks=0";
}

namespace {

// One VM per process; every test of this program shares it. The GUI must
// not wait for a person.
JavaVM* Vm()
{
    static CJvmLoader* loader = [] {
        setenv("TAV_UNATTENDED", "1", 1);
        auto* l = new CJvmLoader;
        EXPECT_TRUE(l->CreateJavaVM(std::string(TAV_TEST_JAR) + ";" + TAV_ZEL_JAR));
        return l;
    }();
    return loader->GetJavaVM();
}

std::string RuntimeDirectory()
{
    return std::string(TAV_BUILD_JDK_HOME) + "/lib/";
}

JNIEnv* Env()
{
    JNIEnv* env = nullptr;
    Vm()->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr);
    return env;
}

std::string CallStaticString(const char* cls, const char* method, const char* signature = "()Ljava/lang/String;")
{
    JNIEnv* env = Env();
    jclass c = env->FindClass(cls);
    jmethodID m = env->GetStaticMethodID(c, method, signature);
    auto s = static_cast<jstring>(env->CallStaticObjectMethod(c, m));
    EXPECT_FALSE(env->ExceptionCheck());
    const char* chars = env->GetStringUTFChars(s, nullptr);
    std::string result(chars);
    env->ReleaseStringUTFChars(s, chars);
    return result;
}

void CallStaticVoid(const char* cls, const char* method)
{
    JNIEnv* env = Env();
    jclass c = env->FindClass(cls);
    env->CallStaticVoidMethod(c, env->GetStaticMethodID(c, method, "()V"));
    EXPECT_FALSE(env->ExceptionCheck());
}

std::string Calls()
{
    return CallStaticString("tavtest/TestGui", "calls");
}

template <typename F>
CException Caught(F f)
{
    try {
        f();
    } catch (const CException& e) {
        return e;
    }
    return CException();
}

// Waits until `condition` holds (the X server applies map changes later).
template <typename P>
bool Eventually(P condition)
{
    Platform::Event never(true, false);
    for (int i = 0; i < 300; ++i) {
        if (condition())
            return true;
        Platform::WaitForSingleObject(never, 10);
    }
    return condition();
}

class Configurator : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(Vm(), nullptr);
        CallStaticVoid("tavtest/TestGui", "reset");
    }
};

} // namespace

TEST_F(Configurator, UnknownClassFailsTheLaunch)
{
    CConfigurator c(Vm(), "no/such/Gui", RuntimeDirectory());
    CException e = Caught([&] { c.Initialize("Configurator", nullptr); });
    EXPECT_EQ(e.GetCode(), 0xCEF10000u);
    EXPECT_EQ(e.GetLine(), 333);
    EXPECT_FALSE(c.IsLaunched());
}

TEST_F(Configurator, ThrowingMainIsShownAndFailsAtLine367)
{
    CConfigurator c(Vm(), "tavtest/ThrowingGui", RuntimeDirectory());
    CException e = Caught([&] { c.Launch(); });
    EXPECT_EQ(e.GetCode(), 0xCEF10001u);
    EXPECT_EQ(e.GetLine(), 367);
    EXPECT_EQ(CallStaticString("tavtest/ThrowingGui", "shown"), "cannot start");
}

TEST_F(Configurator, ShowHideAndVisibilityFollowTheWindow)
{
    CConfigurator c(Vm(), "tavtest/TestGui", RuntimeDirectory());
    EXPECT_FALSE(c.IsVisible()) << "not launched";
    c.Initialize("Configurator", nullptr);
    EXPECT_NE(c.GetWindow(), 0u);
    EXPECT_FALSE(c.IsVisible()) << "packed, not shown";
    c.Show();
    EXPECT_TRUE(Eventually([&] { return c.IsVisible(); }));
    c.Hide();
    EXPECT_TRUE(Eventually([&] { return !c.IsVisible(); }));
    c.Show();
    EXPECT_TRUE(Eventually([&] { return c.IsVisible(); }));
    CallStaticVoid("tavtest/TestGui", "destroyWindow");
    EXPECT_TRUE(Eventually([&] { return !c.IsVisible(); })) << "a destroyed window is not visible";
    EXPECT_EQ(Calls(), "main\nshow\ndispose\nshow\n");
    c.Deinitialize();
    EXPECT_NE(Calls().find("Detach\nexit\n"), std::string::npos);
}

TEST_F(Configurator, NotificationsCallStateChangedThenRefresh)
{
    CConfigurator c(Vm(), "tavtest/TestGui", RuntimeDirectory());
    c.Initialize("Configurator", nullptr);
    TestSource source;
    source.Initialize("Source", nullptr);
    CModuleLinker linker;
    linker.Link(&source, 1, &c, 1);

    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(MakeValueChunkBuffer(GUID_RefreshChunk, 1));
    packet->AddChunkBuffer(MakeValueChunkBuffer(GUID_DeviceStateChunk, 2));
    // Delivered on a thread of its own, as a decoupler would.
    Platform::Thread sender;
    ASSERT_TRUE(sender.Start([&] { source.Emit(packet); }));
    ASSERT_TRUE(sender.Join(10000));
    EXPECT_EQ(Calls(), "main\nstateChanged\nRefresh\n");

    CException e = Caught([&] { c.Push(2, packet); });
    EXPECT_EQ(e.GetCode(), 0xCEF10103u);
    linker.UnlinkAll();
}

TEST_F(Configurator, TheGuiReadsAndWritesRegistersThroughTheOutputPorts)
{
    CConfigurator c(Vm(), "tavtest/TestGui", RuntimeDirectory());
    c.Initialize("Configurator", nullptr);
    struct RegisterModule : public CollectingSink {
        TestRegisters registers;
        void OnData(int port, const CSmartPointer<IPacket>& packet) override { HandleRegisterRequests(registers, packet); }
    } device;
    device.Initialize("DeviceController", nullptr);
    CModuleLinker linker;
    linker.Link(&c, 1024, &device, 2);
    c.Attach("tav.xml");
    EXPECT_NE(Calls().find("Attach tav.xml"), std::string::npos);

    JNIEnv* env = Env();
    jclass gui = env->FindClass("tavtest/TestGui");
    env->CallStaticVoidMethod(gui, env->GetStaticMethodID(gui, "writeInt", "(III)V"), 1024, 16, 0x12345678);
    ASSERT_FALSE(env->ExceptionCheck());
    jint value = env->CallStaticIntMethod(gui, env->GetStaticMethodID(gui, "readInt", "(II)I"), 1024, 16);
    ASSERT_FALSE(env->ExceptionCheck());
    EXPECT_EQ(value, 0x12345678);
    EXPECT_EQ(device.registers.Calls(), (std::vector<std::string>{"write 16 4", "read 16 4"}));

    // From the AWT thread; an undeclared port comes back to the GUI as its error.
    jmethodID onEdt = env->GetStaticMethodID(gui, "readIntOnEventThread", "(II)Ljava/lang/String;");
    auto text = static_cast<jstring>(env->CallStaticObjectMethod(gui, onEdt, 1024, 16));
    ASSERT_FALSE(env->ExceptionCheck());
    const char* chars = env->GetStringUTFChars(text, nullptr);
    EXPECT_STREQ(chars, "305419896");
    env->ReleaseStringUTFChars(text, chars);
    auto failed = static_cast<jstring>(env->CallStaticObjectMethod(gui, onEdt, 7, 16));
    ASSERT_FALSE(env->ExceptionCheck());
    chars = env->GetStringUTFChars(failed, nullptr);
    EXPECT_EQ(std::string(chars).rfind("error: ", 0), 0u) << chars;
    env->ReleaseStringUTFChars(failed, chars);
    linker.UnlinkAll();
}

TEST_F(Configurator, DetachFromAnotherThread)
{
    CConfigurator c(Vm(), "tavtest/TestGui", RuntimeDirectory());
    c.Initialize("Configurator", nullptr);
    c.Attach("cfg.xml");
    Platform::Thread disconnector;
    bool failed = false;
    ASSERT_TRUE(disconnector.Start([&] {
        try {
            c.Detach();
        } catch (const CException&) {
            failed = true;
        }
    }));
    ASSERT_TRUE(disconnector.Join(10000));
    EXPECT_FALSE(failed);
    EXPECT_NE(Calls().find("Attach cfg.xml\nDetach\n"), std::string::npos);
}

namespace {

std::string DriverCall(const char* method, const char* signature, jstring a = nullptr, jstring b = nullptr)
{
    JNIEnv* env = Env();
    jclass driver = env->FindClass("zel/gui/HostDriver");
    jmethodID m = env->GetStaticMethodID(driver, method, signature);
    std::string result;
    if (std::string(signature).back() == 'V') {
        env->CallStaticVoidMethod(driver, m, a, b);
    } else {
        auto s = static_cast<jstring>(env->CallStaticObjectMethod(driver, m, a));
        if (s && !env->ExceptionCheck()) {
            const char* chars = env->GetStringUTFChars(s, nullptr);
            result = chars;
            env->ReleaseStringUTFChars(s, chars);
        }
    }
    if (env->ExceptionCheck()) {
        env->ExceptionDescribe();
        env->ExceptionClear();
        ADD_FAILURE() << method << " threw";
    }
    return result;
}

jstring J(const char* text)
{
    return Env()->NewStringUTF(text);
}

// A module whose registers the GUI edits: requests on input 2, refresh
// packets sent on output 1.
struct EditedModule : public CollectingSink {
    TestRegisters registers;
    void OnInitialize() override
    {
        CollectingSink::OnInitialize();
        AddOutputPort(1);
    }
    void OnData(int port, const CSmartPointer<IPacket>& packet) override { HandleRegisterRequests(registers, packet); }
    void SendRefresh()
    {
        CSmartPointer<IPacket> packet = CPacket::Create();
        packet->AddChunkBuffer(MakeValueChunkBuffer(GUID_RefreshChunk, 1));
        Send(1, packet);
    }
    void Set(uint64_t address, uint32_t value) { registers.Write(address, &value, 4); }
    uint32_t Get(uint64_t address)
    {
        uint32_t value = 0;
        registers.Read(address, &value, 4);
        return value;
    }
};

} // namespace

// The bundled GUI is started and ended once per process: one test for it.
TEST_F(Configurator, HostsTheBundledGuiWhoseEditsReachTheModule)
{
    const std::string config = "/tmp/tav-configurator-edit-test.xml";
    TavTest::WriteFile(config, "<configuration title='Test'>"
                               "<page title='Module' port='1024'>"
                               "<register address='16' type='int' label='Value'/>"
                               "</page></configuration>");
    CConfigurator c(Vm(), "zel/gui/ZEL", RuntimeDirectory());
    c.Initialize("Configurator", nullptr);
    EXPECT_NE(c.GetWindow(), 0u);
    c.Show();
    EXPECT_TRUE(Eventually([&] { return c.IsVisible(); }));
    EditedModule module;
    module.Initialize("Module", nullptr);
    module.Set(16, 7);
    CModuleLinker linker;
    linker.Link(&c, 1024, &module, 2);
    linker.Link(&module, 1, &c, 1);

    c.Attach(config);
    EXPECT_EQ(DriverCall("text", "(Ljava/lang/String;)Ljava/lang/String;", J("Value")), "7");

    DriverCall("type", "(Ljava/lang/String;Ljava/lang/String;)V", J("Value"), J("42"));
    EXPECT_EQ(module.Get(16), 42u);

    // A change in the module shows after its refresh packet, delivered on a
    // thread of its own as a decoupler would.
    module.Set(16, 99);
    Platform::Thread delivery;
    ASSERT_TRUE(delivery.Start([&] { module.SendRefresh(); }));
    ASSERT_TRUE(delivery.Join(10000));
    Platform::Event never(true, false);
    std::string shown;
    for (int i = 0; i < 100 && (shown = DriverCall("text", "(Ljava/lang/String;)Ljava/lang/String;", J("Value"))) != "99"; ++i)
        Platform::WaitForSingleObject(never, 20);
    EXPECT_EQ(shown, "99");

    // Edits on the AWT thread and refreshes from a delivery thread at once.
    std::atomic<bool> stop{false};
    Platform::Thread refresher;
    ASSERT_TRUE(refresher.Start([&] {
        while (!stop)
            module.SendRefresh();
    }));
    jclass driver = Env()->FindClass("zel/gui/HostDriver");
    Env()->CallStaticVoidMethod(driver, Env()->GetStaticMethodID(driver, "typeRepeatedly", "(Ljava/lang/String;I)V"),
                                J("Value"), 50);
    ASSERT_FALSE(Env()->ExceptionCheck());
    std::string last;
    for (int i = 0; i < 200 && (last = DriverCall("text", "(Ljava/lang/String;)Ljava/lang/String;", J("Value"))) != "1049"; ++i)
        Platform::WaitForSingleObject(never, 20);
    stop = true;
    ASSERT_TRUE(refresher.Join(10000));
    EXPECT_EQ(module.Get(16), 1049u);
    EXPECT_EQ(last, "1049");
    c.Detach();
    c.Hide();
    EXPECT_TRUE(Eventually([&] { return !c.IsVisible(); }));
    linker.UnlinkAll();
    c.Deinitialize();
}
