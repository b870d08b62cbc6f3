#pragma once

// The Launcher process driven from outside, as a user drives it: real X
// input through xdotool, the windows read back from the program's UI probe
// file and from screenshots, the Java GUI through its test-command file.

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace TavE2e {

struct ProbeItem {
    std::string kind; // window, widget or action
    std::string window; // objectName of the window it belongs to
    std::string name;
    std::string className;
    int x = 0, y = 0, width = 0, height = 0;
    bool enabled = false, checked = false, active = false;
    std::string text;

    int CenterX() const { return x + width / 2; }
    int CenterY() const { return y + height / 2; }
};

// One snapshot of the probe file.
struct Probe {
    std::vector<ProbeItem> items;

    static Probe Parse(const std::string& text);
    const ProbeItem* Window(const std::string& name) const;
    const ProbeItem* Widget(const std::string& window, const std::string& name) const;
    // The first widget or action of `window` whose text starts with `prefix`.
    const ProbeItem* ByText(const std::string& window, const std::string& kind, const std::string& prefix) const;
    // The first open menu window.
    const ProbeItem* OpenMenu() const;
};

// A screenshot of the whole screen; pixel values as the server stores them.
struct Screenshot {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;

    // Reads an X window dump (xwd) of 8, 16, 24 or 32 bits per pixel.
    static std::optional<Screenshot> ParseXwd(const std::string& data, std::string& error);
    // Different pixel values in the rectangle (clipped to the screen).
    size_t DistinctValues(int x, int y, int width, int height) const;
};

// A private X server (Xvfb, 1280x1024, 24 bits) for one test, so that
// tests never share a screen, a pointer or a keyboard focus.
class PrivateDisplay {
public:
    PrivateDisplay();
    ~PrivateDisplay();
    PrivateDisplay(const PrivateDisplay&) = delete;
    PrivateDisplay& operator=(const PrivateDisplay&) = delete;

    // ":N", or empty when no server could be started.
    const std::string& Name() const { return name; }

private:
    pid_t pid = -1;
    std::string name;
};

class LauncherSession {
public:
    LauncherSession();
    // Kills the program if it still runs; the folder goes unless kept.
    ~LauncherSession();

    const std::string& Home() const { return home; }
    // The program's display; empty when none could be started.
    const std::string& Display() const { return display.Name(); }
    void SetEnvironment(const std::string& name, const std::string& value) { environment[name] = value; }

    // Starts the Launcher in the build tree with the private home folder.
    bool Start(const std::vector<std::string>& arguments = {});
    // The exit code, or nullopt if the program did not end normally in time.
    std::optional<int> WaitForExit(std::chrono::milliseconds timeout);

    std::string StandardError() const;
    std::string StandardOutput() const;

    Probe ReadProbe() const;
    // Polls the probe until `condition` holds; the last snapshot in `last`.
    bool WaitForProbe(const std::function<bool(const Probe&)>& condition, std::chrono::milliseconds timeout,
                      Probe* last = nullptr) const;
    // Polls standard error until it contains `text` (after `from` characters).
    bool WaitForError(const std::string& text, std::chrono::milliseconds timeout, size_t from = 0) const;

    // Appends a command for the Java GUI and waits for its answer; false with
    // the answer (or nothing) in `answer` when it failed.
    bool JavaCommand(const std::string& command, std::string* answer = nullptr);

    // X input: a left click at a screen position.
    bool Click(int x, int y) const;
    bool Click(const ProbeItem& item) const { return Click(item.CenterX(), item.CenterY()); }
    // Clicks a widget of a window once the probe shows it enabled.
    bool ClickWidget(const std::string& window, const std::string& name, std::chrono::milliseconds timeout);
    // Opens a menu of a window's menu bar and chooses an item, both by the
    // start of their text.
    bool ChooseMenu(const std::string& window, const std::string& menu, const std::string& item,
                    std::chrono::milliseconds timeout);

    std::optional<Screenshot> TakeScreenshot(std::string& error) const;

    // Leaves the folder (output, probe, files) for a look after a failure.
    void KeepFolder() { keep = true; }

    // Runs a shell command against the program's display.
    bool RunOnDisplay(const std::string& command) const;

private:
    PrivateDisplay display;
    std::string home;
    std::string probeFile;
    std::string commandFile;
    std::map<std::string, std::string> environment;
    pid_t pid = -1;
    int commandCount = 0;
    bool keep = false;
};

std::string ReadFile(const std::string& name);
bool RunCommand(const std::string& command);

} // namespace TavE2e
