#include "Launcher.h"

#include "Common/StaticErrorView.h"
#include "Core/Configurator.h"
#include "Core/DeviceController.h"
#include "Core/HalPlugin.h"
#include "Platform/Event.h"
#include "Platform/ProcessInfo.h"
#include "Platform/Waitable.h"
#include "StartUp.h"
#include "XmlHelper.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <cstdio>
#include <fstream>
#include <map>
#include <sys/stat.h>

namespace Tav {

namespace {

const char* const sourceFile = "Launcher.cpp";

[[noreturn]] void Fail(int line, const std::string& text)
{
    throw CCommonException(0xCEF00001, line, sourceFile, text.c_str());
}

std::string Quoted(const char* format, const std::string& insert)
{
    const int length = std::snprintf(nullptr, 0, format, insert.c_str());
    std::string text(static_cast<size_t>(length), '\0');
    std::snprintf(text.data(), text.size() + 1, format, insert.c_str());
    return text;
}

// The whole command line of this process, program name included.
CCommandLine OwnCommandLine()
{
    std::ifstream file("/proc/self/cmdline", std::ios::binary);
    std::string line, argument;
    while (std::getline(file, argument, '\0')) {
        if (!line.empty())
            line += ' ';
        line += argument;
    }
    return CCommandLine(line);
}

bool FileExists(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

// Watches the application for a quit request while Disconnect waits.
class CQuitWatcher : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Quit)
            quitRequested = true;
        return false; // the application still quits once the wait is over
    }
    bool quitRequested = false;
};

} // namespace

CLauncher::CLauncher() : CLauncher(OwnCommandLine()) {}

CLauncher::CLauncher(const CCommandLine& commandLine, ConfiguratorCreator createConfigurator)
    : createConfigurator(std::move(createConfigurator))
{
    LauncherOptions options;
    ParseLauncherOptions(commandLine, options);
    classPath = commandLine.HasOption("-classpath") ? options.classPath : ResolveDataFile(options.classPath);
    className = options.className;
    configFile = options.configFile;
    connectionFile =
        commandLine.HasOption("-connections") ? options.connectionFile : ResolveDataFile(options.connectionFile);
    halPluginName = options.halPluginName;
}

CLauncher::~CLauncher()
{
    if (connected)
        Disconnect();
    abandonedDisconnector.reset();
    linker.UnlinkAll();
    factory.ReleaseAll();
}

std::string CLauncher::ResolveDataFile(const std::string& fileName)
{
    if (fileName.empty() || fileName.front() == '/' || FileExists(fileName))
        return fileName;
    const std::string installed = Platform::FindDataFile(fileName);
    return installed.empty() ? fileName : installed;
}

IComponent* CLauncher::CreateConfigurator()
{
    if (createConfigurator)
        return createConfigurator();
    if (!jvmLoader.GetJavaVM() && !jvmLoader.CreateJavaVM(classPath))
        return nullptr;
    return new CConfigurator(jvmLoader.GetJavaVM(), className, jvmLoader.GetRuntimeDirectory());
}

bool CLauncher::Initialize()
{
    try {
        // A retry after a failed start keeps the configurator it made.
        if (!factory.Contains("Configurator")) {
            IComponent* configurator = CreateConfigurator();
            if (!configurator)
                return false;
            factory.Register("Configurator", configurator);
        }
        std::unique_ptr<pugi::xml_document> document = LoadXmlDocument(connectionFile);
        // Links of an earlier, failed attempt would otherwise be doubled.
        linker.UnlinkAll();
        AssembleGraph(*document, factory, linker);
    } catch (const CException& e) {
        CStaticErrorView::ShowError(e);
        return false;
    } catch (const CComError& e) {
        CStaticErrorView::ShowErrorMessage("%s", e.what());
        return false;
    }
    initialised = true;
    return true;
}

void CLauncher::AssembleGraph(const pugi::xml_document& document, IFactory& factory, CModuleLinker& linker)
{
    pugi::xml_node root = GetRootElement(document);

    pugi::xml_node modules = SelectSingleNode(root, "//Modules");
    if (!modules)
        Fail(99, "Error in connection XML file. Found now item 'Modules'");

    std::map<std::string, IComponent*> aliases;
    for (const pugi::xml_node& module : GetElementsByTagName(modules, "Module")) {
        std::string name;
        if (!GetAttribute(module, "name", name))
            Fail(109, "Error in connection XML file. Found Module item without name attribute.");
        std::string alias;
        if (!GetAttribute(module, "alias", alias))
            alias = name;
        IComponent* component = factory.GetObject(name);
        if (!aliases.emplace(alias, component).second)
            Fail(117, Quoted("There must not be two modules named '%s'", alias));
    }

    pugi::xml_node connections = SelectSingleNode(root, "//Connections");
    if (!connections)
        Fail(129, "Error in connection XML file. Found now item 'Connections'");

    for (const pugi::xml_node& connection : GetElementsByTagName(connections, "Connection")) {
        std::string srcModule, srcPort, dstModule, dstPort;
        if (!GetAttribute(connection, "srcModule", srcModule))
            Fail(138, "Error in connection XML file. Found 'Connection' item without 'srcModule' attribute");
        if (!GetAttribute(connection, "srcPort", srcPort))
            Fail(143, "Error in connection XML file. Found 'Connection' item without 'srcPort' attribute");
        if (!GetAttribute(connection, "dstModule", dstModule))
            Fail(148, "Error in connection XML file. Found 'Connection' item without 'dstModule' attribute");
        if (!GetAttribute(connection, "dstPort", dstPort))
            Fail(153, "Error in connection XML file. Found 'Connection' item without 'dstPort' attribute");
        auto source = aliases.find(srcModule);
        if (source == aliases.end())
            Fail(161, Quoted("Error in connection XML file. There is no module '%s'", srcModule));
        auto destination = aliases.find(dstModule);
        if (destination == aliases.end())
            Fail(175, Quoted("Error in connection XML file. There is no module '%s'", dstModule));
        linker.Link(source->second, ToInteger(srcPort), destination->second, ToInteger(dstPort));
    }
}

bool CLauncher::Connect(const CDeviceDescriptor& device)
{
    if (!initialised && !Initialize())
        return false;
    CDeviceController* controller = nullptr;
    bool opened = false;
    try {
        controller = dynamic_cast<CDeviceController*>(factory.GetObject("DeviceController"));
        if (!controller)
            return false;
        controller->OpenDevice(device);
        opened = true;
        auto* configurator = dynamic_cast<IConfigurationHost*>(factory.GetObject("Configurator"));
        if (!configurator) {
            controller->CloseDevice();
            return false;
        }
        configurator->Attach(configFile);
    } catch (const CException& e) {
        if (opened) {
            try {
                controller->CloseDevice();
            } catch (const CException&) {
            }
        }
        CStaticErrorView::ShowError(e);
        return false;
    }
    connected = true;
    return true;
}

void CLauncher::Disconnect()
{
    auto thread = std::make_unique<CDisconnectorThread>(&factory);
    disconnecting = true;
    thread->CreateThreadResources();
    thread->StartThread();
    thread->WaitUntilStarted(-1);
    const bool finished = WaitDispatching(*thread);
    if (!finished)
        thread->Terminate();
    disconnecting = false;
    connected = false;
    thread->RequestStop();
    if (!thread->Join(thread->GetStopTimeout()))
        thread->Terminate();
    if (thread->IsAbandoned()) {
        // Destroying it would wait for the body; that waits until the end.
        abandonedDisconnector = std::move(thread);
    }
}

bool CLauncher::WaitDispatching(CDisconnectorThread& thread)
{
    QCoreApplication* application = QCoreApplication::instance();
    if (!application || QThread::currentThread() != application->thread()) {
        Platform::WaitForSingleObject(thread.Finished(), Platform::Infinite);
        return true;
    }
    CQuitWatcher watcher;
    application->installEventFilter(&watcher);
    while (!thread.Finished().IsSet() && !watcher.quitRequested)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    application->removeEventFilter(&watcher);
    return !watcher.quitRequested;
}

CLauncher::CDisconnectorThread::CDisconnectorThread(IFactory* factory)
    : factory(factory), finished(std::make_shared<Platform::Event>(true, false))
{
}

CLauncher::CDisconnectorThread::~CDisconnectorThread()
{
    RequestStop();
    if (!Join(GetStopTimeout()))
        Terminate();
    // The body may still run on this object after Terminate.
    WaitForAbandonedThreads();
}

void CLauncher::CDisconnectorThread::Run()
{
    const std::shared_ptr<Platform::Event> done = finished;
    try {
        if (auto* configurator = dynamic_cast<IConfigurationHost*>(factory->GetObject("Configurator")))
            configurator->Detach();
        if (auto* controller = dynamic_cast<CDeviceController*>(factory->GetObject("DeviceController")))
            controller->CloseDevice();
    } catch (const CException& e) {
        CStaticErrorView::ShowError(e);
    }
    done->Set();
    // Wakes the dispatching wait of the GUI thread.
    if (QCoreApplication* application = QCoreApplication::instance())
        QMetaObject::invokeMethod(application, [] {}, Qt::QueuedConnection);
}

} // namespace Tav
