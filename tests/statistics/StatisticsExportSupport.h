#pragma once

// Helpers of the export and statistics decoupler tests.

#include <string>

class QApplication;

namespace StatisticsTest {

// The process's QApplication on the offscreen platform, created on first use.
QApplication& App();

// Makes "de_DE.UTF-8" usable by newlocale and setlocale: the installed one,
// or one built with localedef next to the test program (LOCPATH). False,
// with the reason, when neither is possible.
bool EnsureGermanLocale(std::string& why);

} // namespace StatisticsTest
