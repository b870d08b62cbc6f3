#pragma once

#include <QObject>
#include <QTimer>

#include <memory>
#include <string>

class QWidget;

namespace Tav {

// A test hook: with TAV_UI_PROBE naming a file, the GUI thread writes a text
// snapshot of the visible top-level windows to that file every 200 ms, so
// that a test driving the program from outside can find controls and read
// what they show. One line per item, fields separated by blanks, the text
// last (line breaks in it written as "\n", backslashes as "\\"):
//   window <objectName> <class> <x> <y> <width> <height> <active> <title>
//   widget <objectName> <class> <x> <y> <width> <height> <enabled> <checked> <text>
//   action <objectName> <x> <y> <width> <height> <enabled> <text>
// Geometry is global (screen) pixels; unnamed objects are written as "-".
// Widgets are the labels, buttons, line edits, combo boxes, image areas and
// named widgets of each window; actions are the visible items of menu bars
// and open menus. The file is replaced as a whole, never seen half written.
class CUiProbe : public QObject {
public:
    static constexpr const char* Variable = "TAV_UI_PROBE";
    static constexpr int IntervalMs = 200;

    // Writes to `fileName` every IntervalMs from the GUI thread's event loop.
    explicit CUiProbe(std::string fileName);
    ~CUiProbe() override;

    // The probe TAV_UI_PROBE asks for, or null when it is unset.
    static std::unique_ptr<CUiProbe> FromEnvironment();

    // The snapshot of the current top-level windows.
    static std::string Snapshot();
    // Writes `text` to `fileName` through a temporary file and a rename.
    static bool WriteFileAtomically(const std::string& fileName, const std::string& text);

    // Writes a snapshot now.
    bool WriteNow();

private:
    std::string fileName;
    QTimer timer;
};

} // namespace Tav
