#pragma once

#include "Platform/DynamicLibrary.h"

#include <jni.h>

#include <string>

namespace Tav {

// Loads the Java VM library and creates the process's one Java VM.
//
// The library is looked for at `jvmPath` (relative to the current
// directory), then in $JAVA_HOME, then in the JDK the program was built
// with, then by the loader's own search. The class path takes ";" as
// separator, as the command line has always given it.
class CJvmLoader {
public:
    CJvmLoader();
    ~CJvmLoader();
    CJvmLoader(const CJvmLoader&) = delete;
    CJvmLoader& operator=(const CJvmLoader&) = delete;

    // Shows "Failed to create the Java virtual machine" and returns false
    // when the library cannot be loaded or the VM not created.
    bool CreateJavaVM(const std::string& classPath);

    JavaVM* GetJavaVM() const { return javaVM; }
    // Directory of the runtime's native libraries (the AWT interface among
    // them), with a trailing separator; empty until the library is loaded.
    const std::string& GetRuntimeDirectory() const { return runtimeDirectory; }

    // The libraries tried, in order.
    static std::vector<std::string> CandidatePaths();
    // The VM options for `classPath`: the class path, -Xrs, then the
    // space-separated words of TAV_JVM_OPTIONS.
    static std::vector<std::string> BuildOptions(const std::string& classPath);

private:
    bool LoadLibrary();

    std::string jvmPath;
    Platform::LibraryHandle module = nullptr;
    JavaVM* javaVM = nullptr;
    std::string runtimeDirectory;
};

} // namespace Tav
