#pragma once

#include "CommandLine.h"
#include "Common/ThreadBaseWin32.h"
#include "Core/ModuleLinker.h"
#include "JvmLoader.h"
#include "ObjectFactory.h"

#include <functional>
#include <memory>
#include <string>

namespace pugi {
class xml_document;
}

namespace Tav {

namespace Platform {
class Event;
}

class CDeviceDescriptor;
class IComponent;
class IFactory;

// Owns the processing graph of the launcher process: the Java VM, the
// configurator, every module of the connection file and their links; opens
// and closes the camera. Used from the GUI thread only.
class CLauncher {
public:
    // Creates the configurator; null after the reason was shown. Replaces
    // the Java VM and CConfigurator in tests.
    using ConfiguratorCreator = std::function<IComponent*()>;

    // Parses this process's own command line.
    CLauncher();
    explicit CLauncher(const CCommandLine& commandLine, ConfiguratorCreator createConfigurator = {});
    ~CLauncher();
    CLauncher(const CLauncher&) = delete;
    CLauncher& operator=(const CLauncher&) = delete;

    // Starts the Java VM and the configurator, then builds the graph of the
    // connection file. Failures are shown; false then.
    bool Initialize();
    // Opens `device` and attaches the configuration GUI; failures are shown.
    bool Connect(const CDeviceDescriptor& device);
    // Detaches the configuration GUI and closes the camera on a thread of its
    // own while this thread keeps dispatching its events.
    void Disconnect();

    // Creates every module of the connection file through `factory` and links
    // them; raises CException or CComError on the first fault.
    static void AssembleGraph(const pugi::xml_document& document, IFactory& factory, CModuleLinker& linker);

    CObjectFactory& GetFactory() { return factory; }
    CModuleLinker& GetLinker() { return linker; }
    bool IsConnected() const { return connected; }
    bool IsDisconnecting() const { return disconnecting; }
    bool IsInitialised() const { return initialised; }
    const std::string& GetClassPath() const { return classPath; }
    const std::string& GetClassName() const { return className; }
    const std::string& GetConfigFile() const { return configFile; }
    const std::string& GetConnectionFile() const { return connectionFile; }

    // Where a relative data file (connection file, class path) is found: the
    // current directory first, then the data directories of the program.
    static std::string ResolveDataFile(const std::string& fileName);

private:
    class CDisconnectorThread : public CThreadBaseWin32 {
    public:
        explicit CDisconnectorThread(IFactory* factory);
        ~CDisconnectorThread() override;
        void Run() override;
        // Set as the body's last action.
        Platform::Event& Finished() { return *finished; }

    private:
        IFactory* factory;
        std::shared_ptr<Platform::Event> finished;
    };

    IComponent* CreateConfigurator();
    // Waits for `thread` to finish while dispatching this thread's events;
    // false when a quit request ended the wait first.
    static bool WaitDispatching(CDisconnectorThread& thread);

    CJvmLoader jvmLoader;
    CObjectFactory factory;
    CModuleLinker linker;
    std::string classPath;
    std::string className;
    std::string configFile;
    std::string connectionFile;
    bool connected = false;
    bool disconnecting = false;
    bool initialised = false;
    ConfiguratorCreator createConfigurator;
    // A disconnector given up on a quit request; waited for before the
    // components it works on are released.
    std::unique_ptr<CDisconnectorThread> abandonedDisconnector;
};

} // namespace Tav
