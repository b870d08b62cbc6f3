#pragma once

#include "CommandLine.h"

#include <string>

namespace Tav {

// Exit codes of the launcher process.
constexpr int ExitCodeHelpShown = 0;
constexpr int ExitCodeStartFailed = 0;
constexpr int ExitCodeNormalClose = 1;

// The usage box's caption and text.
extern const char* const UsageCaption;
std::string GetUsageText();

// True when the arguments ask for help: -h, -? or -help (case-sensitive).
bool IsHelpRequested(const CCommandLine& arguments);

// The launcher's settings as the command line sets them.
struct LauncherOptions {
    // The bundled GUI; the launcher looks for it next to the executable when
    // it is not in the current directory. "/zel/cfg/tav.xml" is the
    // configuration the jar carries as a resource.
    std::string classPath = "zel.jar";
    std::string className = "zel/gui/ZEL";
    std::string configFile = "/zel/cfg/tav.xml";
    std::string connectionFile = "DefaultConnections.xml";
    // Null for the built-in 1394 layer, else the plug-in library's name.
    const char* halPluginName = nullptr;
};

// Overwrites each setting whose option is present, in the launcher's order.
void ParseLauncherOptions(const CCommandLine& commandLine, LauncherOptions& options);

} // namespace Tav
