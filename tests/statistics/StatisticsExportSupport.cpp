#include "StatisticsExportSupport.h"

#include <QApplication>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <locale.h>

// Fontconfig (loaded by the file dialog) keeps caches it never frees; they
// are not ours to report.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

namespace StatisticsTest {

namespace {

bool GermanLocaleLoads()
{
    locale_t german = newlocale(LC_NUMERIC_MASK, "de_DE.UTF-8", static_cast<locale_t>(0));
    if (!german)
        return false;
    freelocale(german);
    return true;
}

} // namespace

QApplication& App()
{
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "tav_statistics_tests";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return *app;
}

bool EnsureGermanLocale(std::string& why)
{
    if (GermanLocaleLoads())
        return true;
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path dir = fs::read_symlink("/proc/self/exe", error).parent_path() / "locale";
    const fs::path target = dir / "de_DE.UTF-8";
    // A failed lookup is remembered per path: build before the first look.
    if (!fs::exists(target / "LC_NUMERIC", error)) {
        // Built aside and renamed, so parallel test processes never see half a locale.
        const fs::path scratch = dir / ("build." + std::to_string(getpid()));
        fs::create_directories(scratch, error);
        const std::string command =
            "localedef -i de_DE -f UTF-8 '" + (scratch / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) == 0)
            fs::rename(scratch / "de_DE.UTF-8", target, error);
        fs::remove_all(scratch, error);
    }
    setenv("LOCPATH", dir.c_str(), 1);
    if (GermanLocaleLoads())
        return true;
    unsetenv("LOCPATH");
    why = "the locale de_DE.UTF-8 is not installed and localedef could not build it "
          "(install the Debian package locales, see scripts/install-deps.sh)";
    return false;
}

} // namespace StatisticsTest
