#include "CommandLine.h"
#include "StartUp.h"

#include <gtest/gtest.h>

using namespace Tav;

TEST(CommandLine, SplitsAtWhiteSpaceAndKeepsQuotes)
{
    CCommandLine c("  Launcher\t-connections  \"My File.xml\"\n ");
    std::vector<std::string> expected = {"Launcher", "-connections", "\"My", "File.xml\""};
    EXPECT_EQ(c.GetTokens(), expected);
    EXPECT_TRUE(CCommandLine("").GetTokens().empty());
}

TEST(CommandLine, OptionValueRules)
{
    CCommandLine c("-configfile a.xml -configfile b.xml -classpath my-dir/x.jar -connections");
    EXPECT_EQ(c.GetOptionValue("-configfile"), "b.xml");
    EXPECT_EQ(c.GetOptionValue("-classpath"), "");
    EXPECT_TRUE(c.HasOption("-connections"));
    EXPECT_EQ(c.GetOptionValue("-connections"), "");
    EXPECT_FALSE(c.HasOption("-configFile"));
    // A later value with a hyphen does not overwrite an earlier good one.
    EXPECT_EQ(CCommandLine("-x good -x bad-value").GetOptionValue("-x"), "good");
}

TEST(StartUp, HelpRequests)
{
    EXPECT_TRUE(IsHelpRequested(CCommandLine("-h -connections x.xml")));
    EXPECT_TRUE(IsHelpRequested(CCommandLine("-?")));
    EXPECT_TRUE(IsHelpRequested(CCommandLine("-connections x.xml -help")));
    EXPECT_FALSE(IsHelpRequested(CCommandLine("-H")));
    EXPECT_FALSE(IsHelpRequested(CCommandLine("-hh --help")));
}

TEST(StartUp, UsageTextIsTheEightLines)
{
    EXPECT_EQ(GetUsageText(),
              "Usage:\n\tLauncher\n\t\t -classpath <class path>\n\t\t -classname <class name>\n"
              "\t\t -configfile <config file name>\n\t\t -connections <connection file name>\n"
              "Example:\n\nLauncher -classpath .;jh.jar;zel.jar -classname zel.gui.ZEL -configfile Test.xml "
              "-connections DefaultConnections.xml\n");
    EXPECT_STREQ(UsageCaption, "Help");
    EXPECT_EQ(GetUsageText().find("hal"), std::string::npos);
}

TEST(StartUp, OptionsOverwriteDefaults)
{
    LauncherOptions defaults;
    ParseLauncherOptions(CCommandLine("Launcher.exe"), defaults);
    EXPECT_EQ(defaults.connectionFile, "DefaultConnections.xml");
    EXPECT_EQ(defaults.className, "zel/gui/ZEL");
    EXPECT_EQ(defaults.configFile, "/zel/cfg/tav.xml");
    EXPECT_EQ(defaults.halPluginName, nullptr);

    LauncherOptions o;
    ParseLauncherOptions(CCommandLine("Launcher -classname a.b.C -connections -kvhal -saperahal -configfile t.xml"), o);
    EXPECT_EQ(o.className, "a/b/C");
    EXPECT_EQ(o.connectionFile, "");
    EXPECT_EQ(o.configFile, "t.xml");
    EXPECT_STREQ(o.halPluginName, "KvHal.dll");

    LauncherOptions s;
    ParseLauncherOptions(CCommandLine("-saperahal -classpath .;jh.jar"), s);
    EXPECT_STREQ(s.halPluginName, "SaperaHal.dll");
    EXPECT_EQ(s.classPath, ".;jh.jar");
}
