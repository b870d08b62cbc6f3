#include "StartUp.h"

namespace Tav {

const char* const UsageCaption = "Help";

std::string GetUsageText()
{
    static const char* const lines[] = {
        "Usage:\n",
        "\tLauncher\n",
        "\t\t -classpath <class path>\n",
        "\t\t -classname <class name>\n",
        "\t\t -configfile <config file name>\n",
        "\t\t -connections <connection file name>\n",
        "Example:\n\n",
        "Launcher -classpath .;jh.jar;zel.jar -classname zel.gui.ZEL -configfile Test.xml -connections "
        "DefaultConnections.xml\n",
    };
    std::string text;
    for (const char* line : lines)
        text += line;
    return text;
}

bool IsHelpRequested(const CCommandLine& arguments)
{
    return arguments.HasOption("-h") || arguments.HasOption("-?") || arguments.HasOption("-help");
}

void ParseLauncherOptions(const CCommandLine& commandLine, LauncherOptions& options)
{
    if (commandLine.HasOption("-classpath"))
        options.classPath = commandLine.GetOptionValue("-classpath");
    if (commandLine.HasOption("-classname")) {
        options.className = commandLine.GetOptionValue("-classname");
        for (char& c : options.className)
            if (c == '.')
                c = '/';
    }
    if (commandLine.HasOption("-configfile"))
        options.configFile = commandLine.GetOptionValue("-configfile");
    if (commandLine.HasOption("-connections"))
        options.connectionFile = commandLine.GetOptionValue("-connections");
    if (commandLine.HasOption("-saperahal"))
        options.halPluginName = "SaperaHal.dll";
    if (commandLine.HasOption("-kvhal"))
        options.halPluginName = "KvHal.dll";
}

} // namespace Tav
