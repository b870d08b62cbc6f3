// The Launcher executable.
#include "Run.h"
#include "StartUp.h"

#include "Platform/MessageBox.h"
#include "Platform/QtMessageBoxHost.h"
#include "Sim1394/Sim1394.h"

#include <QApplication>

#include <string>

// The Java VM takes SIGSEGV for its own checks and keeps its memory to the
// end: a sanitizer build must leave both alone.
extern "C" const char* __asan_default_options()
{
    return "handle_segv=0:allow_user_segv_handler=1:detect_leaks=0";
}

int main(int argc, char** argv)
{
    Tav::InstallCloseSignals();
    QApplication application(argc, argv);
    Tav::Sim1394::Install();
    Tav::Platform::InstallQtMessageBoxHost();

    std::string arguments;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            arguments += ' ';
        arguments += argv[i];
    }
    if (Tav::IsHelpRequested(Tav::CCommandLine(arguments))) {
        const std::string usage = Tav::GetUsageText();
        Tav::Platform::MessageBoxRequest request;
        request.text = usage.c_str();
        request.caption = Tav::UsageCaption;
        Tav::Platform::ShowMessageBox(request);
        return Tav::ExitCodeHelpShown;
    }
    return Tav::Run(arguments, Tav::ShowNormal);
}
