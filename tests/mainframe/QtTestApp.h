#pragma once

// The one QApplication of a test program, on the offscreen platform, with
// the settings store in a fresh folder of its own and the simulated 1394
// driver's cameras.

#include "Platform/MessageBox.h"
#include "Sim1394/Sim1394.h"

#include <QApplication>
#include <QSettings>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

namespace TavTest {

inline QApplication& App()
{
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "tav_mainframe_tests";
        static char* argv[] = {name, nullptr};
        auto* a = new QApplication(argc, argv);
        Tav::Sim1394::Install();
        char pattern[] = "/tmp/tavsettingsXXXXXX";
        if (mkdtemp(pattern))
            QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromLatin1(pattern));
        return a;
    }();
    return *app;
}

inline void ClearSettings()
{
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Quarlo", "Tav").clear();
}

inline void Pump()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

// Records message boxes instead of showing them, while it lives.
class RecordedBoxes {
public:
    RecordedBoxes() { previous = Tav::Platform::SetMessageBoxHost(&Show, this, &previousContext); }
    ~RecordedBoxes() { Tav::Platform::SetMessageBoxHost(previous, previousContext); }

    struct Box {
        std::string text;
        std::string caption;
        Tav::Platform::MessageBoxIcon icon;
    };
    std::vector<Box> Taken()
    {
        std::lock_guard<std::mutex> guard(mutex);
        return boxes;
    }
    std::string AllTexts()
    {
        std::string all;
        for (const Box& box : Taken())
            all += "[" + box.caption + "] " + box.text + "\n";
        return all;
    }

private:
    static Tav::Platform::MessageBoxAnswer Show(const Tav::Platform::MessageBoxRequest& request, void* context)
    {
        auto* self = static_cast<RecordedBoxes*>(context);
        std::lock_guard<std::mutex> guard(self->mutex);
        self->boxes.push_back({request.text, request.caption, request.icon});
        return Tav::Platform::SafeAnswer(request.buttons);
    }

    std::mutex mutex;
    std::vector<Box> boxes;
    Tav::Platform::MessageBoxHost previous = nullptr;
    void* previousContext = nullptr;
};

} // namespace TavTest
