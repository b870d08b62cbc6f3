#pragma once

#include "support/TestPaths.h"

#include <QApplication>
#include <QSettings>

namespace TavTest {

// One application for the whole test program, on the offscreen platform,
// with the settings store in a directory of its own (never the user's).
inline QApplication& ViewerTestApp()
{
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "tav_viewers_tests";
        static char* argv[] = {name, nullptr};
        auto* a = new QApplication(argc, argv);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(MakeTempDirectory()));
        return a;
    }();
    return *app;
}

} // namespace TavTest
