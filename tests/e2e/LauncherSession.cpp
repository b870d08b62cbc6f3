#include "LauncherSession.h"

#include "Platform/ProcessInfo.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <thread>
#include <unordered_set>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace TavE2e {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto pollInterval = std::chrono::milliseconds(50);

// Undoes the probe's escaping of "\n" and "\\".
std::string Unescape(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            ++i;
            out += text[i] == 'n' ? '\n' : text[i];
        } else {
            out += text[i];
        }
    }
    return out;
}

// The rest of the line after `count` blank-separated fields.
std::string Rest(const std::string& line, int count)
{
    size_t position = 0;
    for (int i = 0; i < count && position != std::string::npos; ++i) {
        position = line.find(' ', position);
        if (position != std::string::npos)
            ++position;
    }
    return position == std::string::npos ? std::string() : Unescape(line.substr(position));
}

std::string Quote(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

uint32_t Big32(const std::string& data, size_t offset)
{
    const auto* p = reinterpret_cast<const unsigned char*>(data.data() + offset);
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

} // namespace

std::string ReadFile(const std::string& name)
{
    std::ifstream file(name, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

bool RunCommand(const std::string& command)
{
    return std::system(command.c_str()) == 0;
}

Probe Probe::Parse(const std::string& text)
{
    Probe probe;
    std::istringstream lines(text);
    std::string line;
    std::string window;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        ProbeItem item;
        fields >> item.kind >> item.name;
        if (item.kind == "window") {
            int active = 0;
            fields >> item.className >> item.x >> item.y >> item.width >> item.height >> active;
            item.active = active != 0;
            item.text = Rest(line, 8);
            window = item.name;
        } else if (item.kind == "widget") {
            int enabled = 0, checked = 0;
            fields >> item.className >> item.x >> item.y >> item.width >> item.height >> enabled >> checked;
            item.enabled = enabled != 0;
            item.checked = checked != 0;
            item.text = Rest(line, 9);
        } else if (item.kind == "action") {
            int enabled = 0;
            fields >> item.x >> item.y >> item.width >> item.height >> enabled;
            item.enabled = enabled != 0;
            item.text = Rest(line, 7);
        } else {
            continue;
        }
        if (!fields)
            continue;
        item.window = window;
        probe.items.push_back(item);
    }
    return probe;
}

const ProbeItem* Probe::Window(const std::string& name) const
{
    for (const ProbeItem& item : items)
        if (item.kind == "window" && item.name == name)
            return &item;
    return nullptr;
}

const ProbeItem* Probe::Widget(const std::string& window, const std::string& name) const
{
    for (const ProbeItem& item : items)
        if (item.kind == "widget" && item.window == window && item.name == name)
            return &item;
    return nullptr;
}

const ProbeItem* Probe::ByText(const std::string& window, const std::string& kind, const std::string& prefix) const
{
    for (const ProbeItem& item : items)
        if (item.kind == kind && item.window == window && item.text.rfind(prefix, 0) == 0)
            return &item;
    return nullptr;
}

const ProbeItem* Probe::OpenMenu() const
{
    for (const ProbeItem& item : items)
        if (item.kind == "window" && item.className == "QMenu")
            return &item;
    return nullptr;
}

std::optional<Screenshot> Screenshot::ParseXwd(const std::string& data, std::string& error)
{
    if (data.size() < 100) {
        error = "the dump is shorter than its header";
        return std::nullopt;
    }
    const uint32_t headerSize = Big32(data, 0), version = Big32(data, 4), format = Big32(data, 8);
    const uint32_t width = Big32(data, 16), height = Big32(data, 20), byteOrder = Big32(data, 28);
    const uint32_t bitsPerPixel = Big32(data, 44), bytesPerLine = Big32(data, 48), colours = Big32(data, 76);
    if (version != 7 || format != 2 /* ZPixmap */) {
        error = "not a version 7 ZPixmap dump";
        return std::nullopt;
    }
    if (bitsPerPixel != 8 && bitsPerPixel != 16 && bitsPerPixel != 24 && bitsPerPixel != 32) {
        error = "unsupported bits per pixel " + std::to_string(bitsPerPixel);
        return std::nullopt;
    }
    const uint64_t start = uint64_t(headerSize) + uint64_t(colours) * 12;
    if (width == 0 || height == 0 || width > 16384 || height > 16384 ||
        uint64_t(bytesPerLine) < uint64_t(width) * bitsPerPixel / 8 ||
        start + uint64_t(bytesPerLine) * height > data.size()) {
        error = "the dump's sizes do not fit its length";
        return std::nullopt;
    }
    Screenshot shot;
    shot.width = int(width);
    shot.height = int(height);
    shot.pixels.resize(size_t(width) * height);
    const size_t bytes = bitsPerPixel / 8;
    for (uint32_t y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const unsigned char*>(data.data() + start + uint64_t(y) * bytesPerLine);
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t value = 0;
            for (size_t b = 0; b < bytes; ++b) {
                const size_t index = byteOrder == 0 ? bytes - 1 - b : b; // 0: least significant byte first
                value = value << 8 | row[x * bytes + index];
            }
            shot.pixels[size_t(y) * width + x] = value;
        }
    }
    return shot;
}

size_t Screenshot::DistinctValues(int x, int y, int w, int h) const
{
    std::unordered_set<uint32_t> values;
    for (int row = std::max(0, y); row < std::min(height, y + h); ++row)
        for (int column = std::max(0, x); column < std::min(width, x + w); ++column)
            values.insert(pixels[size_t(row) * width + column]);
    return values.size();
}

PrivateDisplay::PrivateDisplay()
{
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        return;
    pid = ::fork();
    if (pid == 0) {
        // -displayfd: the server picks a free display and writes its number.
        ::dup2(pipe[1], 3);
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, 1);
            ::dup2(null, 2);
        }
        ::execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                 "-noreset", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipe[1]);
    if (pid < 0) {
        ::close(pipe[0]);
        return;
    }
    // The number arrives once the server accepts connections; a server
    // that fails closes the pipe.
    std::string number;
    char c;
    while (::read(pipe[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(pipe[0]);
    if (!number.empty())
        name = ":" + number;
}

PrivateDisplay::~PrivateDisplay()
{
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
}

LauncherSession::LauncherSession()
{
    char pattern[] = "/tmp/tave2eXXXXXX";
    if (mkdtemp(pattern))
        home = pattern;
    probeFile = home + "/probe.txt";
    commandFile = home + "/zel-commands.txt";
    environment["HOME"] = home;
    environment["XDG_CONFIG_HOME"] = home + "/config";
    environment["XDG_RUNTIME_DIR"] = home;
    environment["TAV_UNATTENDED"] = "1";
    environment["TAV_UI_PROBE"] = probeFile;
    environment["ZEL_TEST_COMMANDS"] = commandFile;
    environment["QT_QPA_PLATFORM"] = "xcb";
    environment["DISPLAY"] = display.Name();
    // The program's X authority is no concern of a private server.
    environment["XAUTHORITY"] = home + "/.Xauthority";
}

LauncherSession::~LauncherSession()
{
    if (pid > 0) {
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
    if (!keep && !home.empty())
        std::system(("rm -rf " + Quote(home)).c_str());
}

bool LauncherSession::Start(const std::vector<std::string>& arguments)
{
    if (home.empty() || pid > 0 || display.Name().empty())
        return false;
    const std::string program = Tav::Platform::ExecutableDirectory() + "/Launcher";
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    const std::string out = home + "/stdout.txt", err = home + "/stderr.txt";
    // Everything the child needs is made before the fork.
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const size_t equals = text.find('=');
        if (equals != std::string::npos)
            variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    variables.erase("TAV_SIM1394");
    variables.erase("TAV_DIALOG_FILE");
    for (const auto& [name, value] : environment)
        variables[name] = value;
    std::vector<std::string> pairs;
    for (const auto& [name, value] : variables)
        pairs.push_back(name + "=" + value);
    std::vector<char*> argv, envp;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    for (std::string& pair : pairs)
        envp.push_back(pair.data());
    envp.push_back(nullptr);
    pid = ::fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (o < 0 || e < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0 || ::chdir(home.c_str()) != 0)
            ::_exit(127);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    return true;
}

std::optional<int> LauncherSession::WaitForExit(std::chrono::milliseconds timeout)
{
    if (pid <= 0)
        return std::nullopt;
    const auto deadline = Clock::now() + timeout;
    // Another process offers no event to wait on: its state is polled.
    while (true) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            pid = -1;
            if (WIFEXITED(status))
                return WEXITSTATUS(status);
            return -128 - (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        }
        if (Clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(pollInterval);
    }
}

std::string LauncherSession::StandardError() const
{
    return ReadFile(home + "/stderr.txt");
}

std::string LauncherSession::StandardOutput() const
{
    return ReadFile(home + "/stdout.txt");
}

Probe LauncherSession::ReadProbe() const
{
    return Probe::Parse(ReadFile(probeFile));
}

bool LauncherSession::WaitForProbe(const std::function<bool(const Probe&)>& condition,
                                   std::chrono::milliseconds timeout, Probe* last) const
{
    const auto deadline = Clock::now() + timeout;
    while (true) {
        Probe probe = ReadProbe();
        const bool met = condition(probe);
        if (last)
            *last = std::move(probe);
        if (met)
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(pollInterval);
    }
}

bool LauncherSession::WaitForError(const std::string& text, std::chrono::milliseconds timeout, size_t from) const
{
    const auto deadline = Clock::now() + timeout;
    while (true) {
        const std::string errors = StandardError();
        if (errors.size() > from && errors.find(text, from) != std::string::npos)
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(pollInterval);
    }
}

bool LauncherSession::JavaCommand(const std::string& command, std::string* answer)
{
    {
        std::ofstream file(commandFile, std::ios::app);
        file << command << '\n';
        if (!file.flush())
            return false;
    }
    const std::string number = std::to_string(++commandCount) + " " + command;
    const std::string ok = "zel-test: ok " + number + "\n", failed = "zel-test: failed " + number;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
        const std::string errors = StandardError();
        if (errors.find(ok) != std::string::npos)
            return true;
        if (const size_t at = errors.find(failed); at != std::string::npos) {
            if (answer)
                *answer = errors.substr(at, errors.find('\n', at) - at);
            return false;
        }
        std::this_thread::sleep_for(pollInterval);
    }
    if (answer)
        *answer = "no answer to " + command;
    return false;
}

bool LauncherSession::RunOnDisplay(const std::string& command) const
{
    return RunCommand("DISPLAY=" + display.Name() + " XAUTHORITY= " + command);
}

bool LauncherSession::Click(int x, int y) const
{
    return RunOnDisplay("xdotool mousemove --sync " + std::to_string(x) + " " + std::to_string(y) + " click 1");
}

bool LauncherSession::ClickWidget(const std::string& window, const std::string& name,
                                  std::chrono::milliseconds timeout)
{
    Probe probe;
    if (!WaitForProbe(
            [&](const Probe& p) {
                const ProbeItem* item = p.Widget(window, name);
                return item && item->enabled;
            },
            timeout, &probe))
        return false;
    return Click(*probe.Widget(window, name));
}

bool LauncherSession::ChooseMenu(const std::string& window, const std::string& menu, const std::string& item,
                                 std::chrono::milliseconds timeout)
{
    Probe probe;
    if (!WaitForProbe([&](const Probe& p) { return p.ByText(window, "action", menu) != nullptr; }, timeout, &probe))
        return false;
    if (!Click(*probe.ByText(window, "action", menu)))
        return false;
    const ProbeItem* entry = nullptr;
    if (!WaitForProbe(
            [&](const Probe& p) {
                const ProbeItem* open = p.OpenMenu();
                return open && p.ByText(open->name, "action", item) != nullptr;
            },
            timeout, &probe))
        return false;
    entry = probe.ByText(probe.OpenMenu()->name, "action", item);
    return entry->enabled && Click(*entry);
}

std::optional<Screenshot> LauncherSession::TakeScreenshot(std::string& error) const
{
    const std::string file = home + "/screen.xwd";
    if (!RunOnDisplay("xwd -root -silent -out " + Quote(file))) {
        error = "xwd failed";
        return std::nullopt;
    }
    return Screenshot::ParseXwd(ReadFile(file), error);
}

} // namespace TavE2e
