#include "JvmLoader.h"

#include "Common/StaticErrorView.h"

#include <cstdlib>
#include <sstream>

namespace Tav {

namespace {

using CreateJavaVMFunction = jint(JNICALL*)(JavaVM**, void**, void*);

// Looked up once for the process.
CreateJavaVMFunction createJavaVM = nullptr;

std::string DirectoryOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

} // namespace

CJvmLoader::CJvmLoader() : jvmPath("./jre/lib/server/libjvm.so") {}

CJvmLoader::~CJvmLoader()
{
    // A created VM keeps running threads inside the library, and a VM is
    // never destroyed: unloading it would pull the code from under them.
    if (module && !javaVM)
        Platform::FreeLibrary(module);
    javaVM = nullptr;
}

std::vector<std::string> CJvmLoader::CandidatePaths()
{
    std::vector<std::string> paths = {"./jre/lib/server/libjvm.so"};
    if (const char* home = std::getenv("JAVA_HOME"); home && *home)
        paths.push_back(std::string(home) + "/lib/server/libjvm.so");
#ifdef TAV_BUILD_JDK_HOME
    paths.push_back(std::string(TAV_BUILD_JDK_HOME) + "/lib/server/libjvm.so");
#endif
    paths.push_back("libjvm.so");
    return paths;
}

std::vector<std::string> CJvmLoader::BuildOptions(const std::string& classPath)
{
    std::string path = classPath;
    for (char& c : path)
        if (c == ';')
            c = ':';
    std::vector<std::string> options = {"-Djava.class.path=" + path, "-Xrs"};
    if (const char* extra = std::getenv("TAV_JVM_OPTIONS")) {
        std::istringstream words(extra);
        std::string word;
        while (words >> word)
            options.push_back(word);
    }
    return options;
}

bool CJvmLoader::LoadLibrary()
{
    for (const std::string& path : CandidatePaths()) {
        module = Platform::LoadLibrary(path.c_str(), Platform::LibrarySymbols::Global);
        if (module) {
            // <runtime>/lib/server/libjvm.so: the runtime's libraries are in <runtime>/lib/.
            std::string serverDirectory = DirectoryOf(Platform::GetLibraryPath(module));
            serverDirectory.pop_back();
            runtimeDirectory = DirectoryOf(serverDirectory);
            return true;
        }
    }
    return false;
}

bool CJvmLoader::CreateJavaVM(const std::string& classPath)
{
    bool ok = false;
    if (module || LoadLibrary()) {
        if (!createJavaVM)
            createJavaVM = reinterpret_cast<CreateJavaVMFunction>(Platform::GetProcAddress(module, "JNI_CreateJavaVM"));
        if (createJavaVM) {
            std::vector<std::string> texts = BuildOptions(classPath);
            std::vector<JavaVMOption> options(texts.size());
            for (size_t i = 0; i < texts.size(); ++i)
                options[i].optionString = const_cast<char*>(texts[i].c_str());
            JavaVMInitArgs arguments{};
            arguments.version = JNI_VERSION_1_4;
            arguments.nOptions = static_cast<jint>(options.size());
            arguments.options = options.data();
            arguments.ignoreUnrecognized = JNI_TRUE;
            JNIEnv* env = nullptr;
            ok = createJavaVM(&javaVM, reinterpret_cast<void**>(&env), &arguments) == 0;
            if (!ok)
                javaVM = nullptr;
        }
    }
    if (!ok)
        CStaticErrorView::ShowErrorMessage("Failed to create the Java virtual machine");
    return ok;
}

} // namespace Tav
