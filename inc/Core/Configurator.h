#pragma once

#include "Core/IConfigurationHost.h"
#include "Core/IViewer.h"
#include "Core/ModuleBase.h"

#include <jni.h>

#include <cstdint>
#include <string>

namespace Tav {

// Hosts the Java configuration GUI in the process's Java VM: starts it,
// shows and hides it, hands it the configuration file when a camera is
// connected, forwards device-state and refresh notifications to it, and
// serves its register reads and writes by sending register requests on its
// output ports.
//
// Java references are global references, valid on every thread. A thread
// that this object attached to the VM is detached again when it ends.
class CConfigurator : public IViewer, public CModuleBase, public IConfigurationHost {
public:
    // `javaRuntimeDirectory`: where the AWT native interface library is
    // looked for first (with a trailing separator).
    CConfigurator(JavaVM* javaVM, std::string className, std::string javaRuntimeDirectory);
    ~CConfigurator() override;

    // Starts the GUI if it is not started, else calls its "show".
    void Show() override;
    void Hide() override;
    bool IsVisible() const override;
    // Offered to the GUI's native code through the handle given to "Attach".
    virtual void ReadRegisters(int32_t port, uint32_t addressLow, uint32_t addressHigh, uint32_t length,
                               void* buffer);
    virtual void WriteRegisters(int32_t port, uint32_t addressLow, uint32_t addressHigh, uint32_t length,
                                const void* data);
    // Failures go to the error port, never to the sender.
    virtual void OnNotification(const CSmartPointer<IPacket>& packet);

    void OnInitialize() override;
    void OnDeinitialize() override;
    void OnData(int inputPort, const CSmartPointer<IPacket>& packet) override;

    void Attach(const std::string& configFile) override;
    void Detach() override;
    void Exit();
    void Launch();
    JNIEnv* GetEnv();
    void FetchWindow();
    void ShowJavaException(JNIEnv* env, jthrowable throwable);
    bool CheckJavaException(JNIEnv* env);

    // The handle the GUI is given: the address of this object's primary face.
    int64_t GetHandle() const;
    // The live configurator behind `handle`, or null.
    static CConfigurator* FromHandle(int64_t handle);

    bool IsLaunched() const { return instance != nullptr; }
    unsigned long GetWindow() const { return window; }

private:
    using GetAwtFunction = jboolean(JNICALL*)(JNIEnv*, void*);

    struct CAwtLoader {
        GetAwtFunction getAwt = nullptr;
        std::string libraryPath;
        void* module = nullptr;
    };

    // Calls a method of the GUI object; a missing method raises `code` at
    // `missingLine`, a Java exception is shown and raises it at `failedLine`.
    jlong CallInstance(JNIEnv* env, const char* name, const char* signature, bool returnsLong, uint32_t code,
                       int missingLine, int failedLine, jlong handle = 0, jstring text = nullptr);
    // Calls a notification method; failures are reported, false then.
    bool Notify(const char* name, int missingLine, int failedLine);
    void RegisterNativeMethods(JNIEnv* env);

    CAwtLoader awt;
    unsigned long window = 0;
    std::string className;
    JavaVM* javaVM;
    jobject instance = nullptr;
    jclass guiClass = nullptr;
};

} // namespace Tav
