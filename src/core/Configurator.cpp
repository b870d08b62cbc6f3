#include "Core/Configurator.h"

#include "Core/RegisterRequest.h"
#include "DataBuffer/Guid.h"
#include "DataBuffer/Packet.h"
#include "Platform/DynamicLibrary.h"
#include "Platform/Thread.h"

#include <jawt.h>
#include <jawt_md.h>
#include <xcb/xcb.h>

#include <cstring>
#include <mutex>
#include <set>
#include <vector>

namespace Tav {

namespace {

constexpr const char* sourceFile = "Configurator.cpp";

std::mutex liveMutex;
std::set<const CConfigurator*> liveConfigurators;

// Detaches the thread from the VM when the thread ends, if this code
// attached it; threads the VM itself runs are never touched.
struct ThreadAttachment {
    JavaVM* vm = nullptr;
    ~ThreadAttachment()
    {
        if (vm)
            vm->DetachCurrentThread();
    }
};
thread_local ThreadAttachment attachment;

// Local references made on a thread that stays attached would pile up:
// every operation runs in a local frame of its own.
class LocalFrame {
public:
    explicit LocalFrame(JNIEnv* env) : env(env), pushed(env->PushLocalFrame(16) == 0)
    {
        if (!pushed)
            env->ExceptionClear();
    }
    ~LocalFrame()
    {
        if (pushed)
            env->PopLocalFrame(nullptr);
    }
    LocalFrame(const LocalFrame&) = delete;
    LocalFrame& operator=(const LocalFrame&) = delete;

private:
    JNIEnv* env;
    bool pushed;
};

// A connection of our own to the X server, so that errors of our requests
// come back to us and the VM's Xlib error handling is never involved.
xcb_connection_t* XConnection()
{
    static std::mutex mutex;
    static xcb_connection_t* connection = nullptr;
    std::lock_guard<std::mutex> guard(mutex);
    if (connection && xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        connection = nullptr;
    }
    if (!connection)
        connection = xcb_connect(nullptr, nullptr);
    return connection;
}

std::mutex& XMutex()
{
    static std::mutex mutex;
    return mutex;
}

// The natives the GUI class declares; the handle is the configurator's.
CConfigurator* ConfiguratorOrThrow(JNIEnv* env, jlong handle)
{
    CConfigurator* configurator = CConfigurator::FromHandle(handle);
    if (!configurator) {
        jclass failure = env->FindClass("zel/gui/RegisterException");
        if (!failure) {
            env->ExceptionClear();
            failure = env->FindClass("java/lang/IllegalStateException");
        }
        if (failure)
            env->ThrowNew(failure, "The configuration GUI is not attached to a running configurator.");
    }
    return configurator;
}

void ThrowRegisterError(JNIEnv* env, const std::string& text)
{
    jclass failure = env->FindClass("zel/gui/RegisterException");
    if (!failure) {
        env->ExceptionClear();
        failure = env->FindClass("java/lang/RuntimeException");
    }
    if (failure)
        env->ThrowNew(failure, text.empty() ? "The register access failed." : text.c_str());
}

std::string ErrorText(const CException& e)
{
    std::string text = e.GetDescription();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    char code[32];
    std::snprintf(code, sizeof code, " (error %lx)", static_cast<unsigned long>(e.GetCode()));
    return text + code;
}

void JNICALL NativeReadRegisters(JNIEnv* env, jclass, jlong handle, jint port, jint addressLow, jint addressHigh,
                                 jbyteArray buffer)
{
    CConfigurator* configurator = ConfiguratorOrThrow(env, handle);
    if (!configurator || !buffer)
        return;
    const jsize length = env->GetArrayLength(buffer);
    std::vector<jbyte> bytes(static_cast<size_t>(length));
    try {
        configurator->ReadRegisters(port, static_cast<uint32_t>(addressLow), static_cast<uint32_t>(addressHigh),
                                    static_cast<uint32_t>(length), bytes.data());
    } catch (const CException& e) {
        ThrowRegisterError(env, ErrorText(e));
        return;
    } catch (...) {
        ThrowRegisterError(env, "The register read failed unexpectedly.");
        return;
    }
    env->SetByteArrayRegion(buffer, 0, length, bytes.data());
}

void JNICALL NativeWriteRegisters(JNIEnv* env, jclass, jlong handle, jint port, jint addressLow, jint addressHigh,
                                  jbyteArray data)
{
    CConfigurator* configurator = ConfiguratorOrThrow(env, handle);
    if (!configurator || !data)
        return;
    const jsize length = env->GetArrayLength(data);
    std::vector<jbyte> bytes(static_cast<size_t>(length));
    env->GetByteArrayRegion(data, 0, length, bytes.data());
    try {
        configurator->WriteRegisters(port, static_cast<uint32_t>(addressLow), static_cast<uint32_t>(addressHigh),
                                     static_cast<uint32_t>(length), bytes.data());
    } catch (const CException& e) {
        ThrowRegisterError(env, ErrorText(e));
    } catch (...) {
        ThrowRegisterError(env, "The register write failed unexpectedly.");
    }
}

} // namespace

CConfigurator::CConfigurator(JavaVM* javaVM, std::string className, std::string javaRuntimeDirectory)
    : className(std::move(className)), javaVM(javaVM)
{
    awt.libraryPath = javaRuntimeDirectory + "libjawt.so";
    std::lock_guard<std::mutex> guard(liveMutex);
    liveConfigurators.insert(this);
}

CConfigurator::~CConfigurator()
{
    {
        std::lock_guard<std::mutex> guard(liveMutex);
        liveConfigurators.erase(this);
    }
    if (instance || guiClass) {
        try {
            JNIEnv* env = GetEnv();
            if (instance)
                env->DeleteGlobalRef(instance);
            if (guiClass)
                env->DeleteGlobalRef(guiClass);
        } catch (const CException&) {
        }
    }
    if (awt.module)
        Platform::FreeLibrary(awt.module);
}

int64_t CConfigurator::GetHandle() const
{
    return static_cast<int64_t>(reinterpret_cast<intptr_t>(static_cast<const IViewer*>(this)));
}

CConfigurator* CConfigurator::FromHandle(int64_t handle)
{
    std::lock_guard<std::mutex> guard(liveMutex);
    for (const CConfigurator* c : liveConfigurators)
        if (c->GetHandle() == handle)
            return const_cast<CConfigurator*>(c);
    return nullptr;
}

JNIEnv* CConfigurator::GetEnv()
{
    const int priority = Platform::Thread::GetCurrentSchedulingValue();
    JNIEnv* env = nullptr;
    if (!javaVM)
        throw CCoreException(0xCEF10008, 240, sourceFile);
    const bool wasAttached = javaVM->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_4) == JNI_OK;
    if (!wasAttached) {
        if (javaVM->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) != JNI_OK)
            throw CCoreException(0xCEF10008, 240, sourceFile);
        attachment.vm = javaVM;
    }
    if (Platform::Thread::GetCurrentSchedulingValue() != priority)
        Platform::Thread::SetCurrentSchedulingValue(priority);
    return env;
}

void CConfigurator::ShowJavaException(JNIEnv* env, jthrowable throwable)
{
    env->ExceptionClear();
    if (!guiClass)
        return;
    jmethodID show = env->GetStaticMethodID(guiClass, "showException", "(Ljava/lang/Throwable;)V");
    if (!show) {
        env->ExceptionClear();
        return;
    }
    env->CallStaticVoidMethod(guiClass, show, throwable);
    if (env->ExceptionCheck())
        env->ExceptionClear();
}

bool CConfigurator::CheckJavaException(JNIEnv* env)
{
    jthrowable pending = env->ExceptionOccurred();
    if (!pending)
        return false;
    ShowJavaException(env, pending);
    env->DeleteLocalRef(pending);
    return true;
}

void CConfigurator::RegisterNativeMethods(JNIEnv* env)
{
    JNINativeMethod methods[] = {
        {const_cast<char*>("readRegisters"), const_cast<char*>("(JIII[B)V"),
         reinterpret_cast<void*>(&NativeReadRegisters)},
        {const_cast<char*>("writeRegisters"), const_cast<char*>("(JIII[B)V"),
         reinterpret_cast<void*>(&NativeWriteRegisters)},
    };
    // A GUI class without these natives simply has no register access.
    if (env->RegisterNatives(guiClass, methods, 2) != 0)
        env->ExceptionClear();
}

void CConfigurator::Launch()
{
    JNIEnv* env = GetEnv();
    LocalFrame frame(env);
    if (!guiClass) {
        jclass found = env->FindClass(className.c_str());
        if (!found) {
            env->ExceptionClear();
            throw CCoreException(0xCEF10000, 333, sourceFile);
        }
        guiClass = static_cast<jclass>(env->NewGlobalRef(found));
        RegisterNativeMethods(env);
    }
    jmethodID main = env->GetStaticMethodID(guiClass, "main", "([Ljava/lang/String;)V");
    if (!main) {
        env->ExceptionClear();
        throw CCoreException(0xCEF10001, 340, sourceFile);
    }
    const std::string signature = "()L" + className + ";";
    jmethodID getInstance = env->GetStaticMethodID(guiClass, "getInstance", signature.c_str());
    if (!getInstance) {
        env->ExceptionClear();
        throw CCoreException(0xCEF10001, 349, sourceFile);
    }
    jclass stringClass = env->FindClass("java/lang/String");
    if (!stringClass) {
        env->ExceptionClear();
        throw CCoreException(0xCEF10001, 356, sourceFile);
    }
    jobjectArray arguments = env->NewObjectArray(0, stringClass, nullptr);
    if (!arguments) {
        env->ExceptionClear();
        throw CCoreException(0xCEF10001, 362, sourceFile);
    }
    env->CallStaticVoidMethod(guiClass, main, arguments);
    if (CheckJavaException(env))
        throw CCoreException(0xCEF10001, 367, sourceFile);
    jobject created = env->CallStaticObjectMethod(guiClass, getInstance);
    if (CheckJavaException(env) || !created)
        throw CCoreException(0xCEF10001, 374, sourceFile);
    if (instance)
        env->DeleteGlobalRef(instance);
    instance = env->NewGlobalRef(created);
    FetchWindow();
}

void CConfigurator::FetchWindow()
{
    if (!awt.module) {
        // The VM's own libraries are loaded by now; the AWT interface needs them.
        awt.module = Platform::LoadLibrary(awt.libraryPath.c_str(), Platform::LibrarySymbols::Global);
        if (!awt.module)
            awt.module = Platform::LoadLibrary("libjawt.so", Platform::LibrarySymbols::Global);
        if (!awt.module)
            throw CCoreException(0xCEF1000A, 647, sourceFile);
        awt.getAwt = reinterpret_cast<GetAwtFunction>(Platform::GetProcAddress(awt.module, "JAWT_GetAWT"));
        if (!awt.getAwt) {
            Platform::FreeLibrary(awt.module);
            awt.module = nullptr;
            throw CCoreException(0xCEF1000A, 652, sourceFile);
        }
    }
    JNIEnv* env = GetEnv();
    JAWT jawt{};
    jawt.version = 0x00010003;
    if (!awt.getAwt(env, &jawt))
        throw CCoreException(0xCEF10005, 463, sourceFile);
    JAWT_DrawingSurface* surface = jawt.GetDrawingSurface(env, instance);
    if (!surface) {
        env->ExceptionClear();
        throw CCoreException(0xCEF10005, 468, sourceFile);
    }
    jint lock = surface->Lock(surface);
    if (lock & JAWT_LOCK_ERROR) {
        jawt.FreeDrawingSurface(surface);
        throw CCoreException(0xCEF10005, 475, sourceFile);
    }
    JAWT_DrawingSurfaceInfo* info = surface->GetDrawingSurfaceInfo(surface);
    if (!info) {
        surface->Unlock(surface);
        jawt.FreeDrawingSurface(surface);
        throw CCoreException(0xCEF10005, 483, sourceFile);
    }
    auto* x11 = static_cast<JAWT_X11DrawingSurfaceInfo*>(info->platformInfo);
    window = x11 ? static_cast<unsigned long>(x11->drawable) : 0;
    surface->FreeDrawingSurfaceInfo(info);
    surface->Unlock(surface);
    jawt.FreeDrawingSurface(surface);
}

jlong CConfigurator::CallInstance(JNIEnv* env, const char* name, const char* signature, bool returnsLong,
                                  uint32_t code, int missingLine, int failedLine, jlong handle, jstring text)
{
    jmethodID method = env->GetMethodID(guiClass, name, signature);
    if (!method) {
        env->ExceptionClear();
        throw CCoreException(code, missingLine, sourceFile);
    }
    jlong result = 0;
    if (returnsLong && text)
        result = env->CallLongMethod(instance, method, handle, text);
    else if (returnsLong)
        result = env->CallLongMethod(instance, method);
    else
        env->CallVoidMethod(instance, method);
    if (CheckJavaException(env))
        throw CCoreException(code, failedLine, sourceFile);
    return result;
}

void CConfigurator::Show()
{
    if (!instance) {
        Launch();
        return;
    }
    JNIEnv* env = GetEnv();
    LocalFrame frame(env);
    CallInstance(env, "show", "()V", false, 0xCEF10006, 191, 196);
    FetchWindow();
}

void CConfigurator::Hide()
{
    if (!instance)
        return; // nothing started, nothing to hide
    JNIEnv* env = GetEnv();
    LocalFrame frame(env);
    CallInstance(env, "dispose", "()V", false, 0xCEF10007, 217, 221);
}

bool CConfigurator::IsVisible() const
{
    if (!window)
        return false;
    std::lock_guard<std::mutex> guard(XMutex());
    xcb_connection_t* connection = XConnection();
    if (!connection || xcb_connection_has_error(connection))
        return false;
    xcb_get_window_attributes_cookie_t cookie =
        xcb_get_window_attributes(connection, static_cast<xcb_window_t>(window));
    xcb_generic_error_t* error = nullptr;
    xcb_get_window_attributes_reply_t* reply = xcb_get_window_attributes_reply(connection, cookie, &error);
    // A window that no longer exists is simply not visible.
    bool visible = reply && !error && reply->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(reply);
    std::free(error);
    return visible;
}

void CConfigurator::Attach(const std::string& configFile)
{
    if (!instance)
        Launch();
    JNIEnv* env = GetEnv();
    LocalFrame frame(env);
    jstring file = env->NewStringUTF(configFile.c_str());
    if (!file) {
        env->ExceptionClear();
        throw CCoreException(0xCEF10002, 271, sourceFile);
    }
    CallInstance(env, "Attach", "(JLjava/lang/String;)J", true, 0xCEF10002, 264, 271, GetHandle(), file);
}

void CConfigurator::Detach()
{
    if (!instance)
        return; // never attached
    JNIEnv* env = GetEnv();
    LocalFrame frame(env);
    CallInstance(env, "Detach", "()J", true, 0xCEF10003, 298, 303);
}

void CConfigurator::Exit()
{
    JNIEnv* env = nullptr;
    try {
        env = GetEnv();
    } catch (const CException& e) {
        ReportError(e);
        throw;
    }
    try {
        Detach();
    } catch (const CException& e) {
        ReportError(e);
    } catch (...) {
        ReportError(CCommonException(0xCEF00002, 418, sourceFile));
    }
    LocalFrame frame(env);
    CallInstance(env, "exit", "()V", false, 0xCEF10004, 424, 429);
}

void CConfigurator::OnInitialize()
{
    CModuleBase::OnInitialize();
    SetErrorPort(0);
    SetAuxiliaryPort(-1);
    for (int port : {1024, 1, 1025, 1026, 2048, 2049, 2050})
        AddOutputPort(port);
    Launch();
}

void CConfigurator::OnDeinitialize()
{
    if (instance) {
        try {
            Exit();
        } catch (const CException& e) {
            ReportError(e);
        } catch (...) {
            ReportError(CCommonException(0xCEF00002, 114, sourceFile));
        }
    }
    CModuleBase::OnDeinitialize();
}

void CConfigurator::OnData(int inputPort, const CSmartPointer<IPacket>& packet)
{
    if (inputPort == 1)
        OnNotification(packet);
    else
        CModuleBase::OnData(inputPort, packet);
}

bool CConfigurator::Notify(const char* name, int missingLine, int failedLine)
{
    JNIEnv* env;
    try {
        env = GetEnv();
    } catch (const CException& e) {
        ReportError(e);
        return false;
    }
    LocalFrame frame(env);
    jmethodID method = env->GetMethodID(guiClass, name, "()V");
    if (!method) {
        env->ExceptionClear();
        ReportError(CCoreException(0xCEF10009, missingLine, sourceFile));
        return false;
    }
    env->CallVoidMethod(instance, method);
    if (CheckJavaException(env)) {
        ReportError(CCoreException(0xCEF10009, failedLine, sourceFile));
        return false;
    }
    return true;
}

void CConfigurator::OnNotification(const CSmartPointer<IPacket>& packet)
{
    try {
        if (!instance || !packet)
            return;
        CChunkPtr<CChunk> chunk;
        packet->FindChunk(chunk, GUID_DeviceStateChunk);
        if (chunk && !Notify("stateChanged", 591, 597))
            return;
        chunk.Reset();
        packet->FindChunk(chunk, GUID_RefreshChunk);
        if (chunk)
            Notify("Refresh", 627, 633);
    } catch (const CException& e) {
        // A malformed packet; nothing goes back to the sender.
        ReportError(e);
    }
}

void CConfigurator::ReadRegisters(int32_t port, uint32_t addressLow, uint32_t addressHigh, uint32_t length,
                                  void* buffer)
{
    const uint64_t address = (uint64_t(addressHigh) << 32) | addressLow;
    CRegisterRequest request = CRegisterRequest::Read(address, length);
    Send(port, request.GetPacket());
    if (length)
        std::memcpy(buffer, request.GetData(), length);
}

void CConfigurator::WriteRegisters(int32_t port, uint32_t addressLow, uint32_t addressHigh, uint32_t length,
                                   const void* data)
{
    const uint64_t address = (uint64_t(addressHigh) << 32) | addressLow;
    CRegisterRequest request = CRegisterRequest::Write(address, data, length);
    Send(port, request.GetPacket());
}

} // namespace Tav
