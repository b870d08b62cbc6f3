// The whole program as a user runs it: the Launcher under X, the default
// graph, the simulated cameras and the real Java configuration GUI, driven
// by mouse clicks and the Java GUI's own controls.
#include "LauncherSession.h"

#include "TavTiff.h"

#include "DataBuffer/Guid.h"
#include "DataBuffer/ImageChunk.h"
#include "DataBuffer/RtlHeapAllocator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

using namespace TavE2e;
using namespace std::chrono_literals;

namespace {

constexpr const char* MainFrame = "mainFrame";
constexpr const char* Viewer = "TavImageViewer";
constexpr const char* FpsViewer = "TavFpsViewer";
constexpr const char* SaveDialog = "saveDialog";

// One Mono16 camera with 12 significant bits, small enough for a quick test.
constexpr const char* mono16Camera = "[camera]\n"
                                     "vendor = Quarlo\n"
                                     "model = E2E-16\n"
                                     "coding = Mono16\n"
                                     "bit_depth = 12\n"
                                     "max_width = 320\n"
                                     "max_height = 240\n"
                                     "frame_rate = 30\n";

std::string Text(const Probe& probe, const std::string& window, const std::string& name)
{
    const ProbeItem* item = probe.Widget(window, name);
    return item ? item->text : std::string();
}

// Screen pixels (0xRRGGBB) whose channels differ.
size_t Coloured(const std::vector<uint32_t>& pixels)
{
    return size_t(std::count_if(pixels.begin(), pixels.end(), [](uint32_t p) {
        const uint32_t r = p >> 16 & 255, g = p >> 8 & 255, b = p & 255;
        return r != g || g != b;
    }));
}

uint32_t Little32(const std::string& data, size_t offset)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(data[offset + size_t(i)]);
    return value;
}

class E2eTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!RunCommand("command -v xdotool >/dev/null && command -v xwd >/dev/null"))
            GTEST_SKIP() << "needs xdotool and xwd (scripts/install-deps.sh)";
        ASSERT_FALSE(session.Display().empty()) << "no private X server (Xvfb)";
        session.SetEnvironment("TAV_DIALOG_FILE", session.Home() + "/shot.bmp");
    }

    void TearDown() override
    {
        // A sanitizer build's findings in the program fail the test.
        const std::string errors = session.StandardError();
        EXPECT_EQ(errors.find("Sanitizer"), std::string::npos);
        EXPECT_EQ(errors.find("runtime error:"), std::string::npos);
        if (HasFailure()) {
            session.KeepFolder();
            std::cerr << "--- files kept in " << session.Home() << " ---\n";
            std::cerr << "--- Launcher standard error (end) ---\n"
                      << errors.substr(errors.size() > 6000 ? errors.size() - 6000 : 0) << "--- probe ---\n"
                      << ReadFile(session.Home() + "/probe.txt");
        }
    }

    // Starts the program and connects the first device of the list.
    void StartAndConnect(const std::vector<std::string>& arguments = {})
    {
        ASSERT_TRUE(session.Start(arguments));
        Probe probe;
        ASSERT_TRUE(session.WaitForProbe(
            [](const Probe& p) {
                const ProbeItem* button = p.Widget(MainFrame, "connectButton");
                return button && button->enabled && !Text(p, MainFrame, "deviceList").empty();
            },
            60s, &probe))
            << "no device to connect";
        ASSERT_TRUE(session.Click(*probe.Widget(MainFrame, "connectButton")));
        ASSERT_TRUE(session.WaitForProbe(
            [](const Probe& p) {
                const ProbeItem* button = p.Widget(MainFrame, "disconnectButton");
                return button && button->enabled;
            },
            30s))
            << "not connected";
    }

    // A copy of a shipped example graph in the private folder, whose path
    // holds no '-' that the command line would take for an option.
    std::string CopyExample(const std::string& name)
    {
        const std::string copy = session.Home() + "/" + name;
        std::ofstream(copy) << ReadFile(std::string(TAV_SOURCE_DIR) + "/examples/" + name);
        EXPECT_FALSE(ReadFile(copy).empty()) << name;
        return copy;
    }

    void JavaCommand(const std::string& command)
    {
        std::string answer;
        ASSERT_TRUE(session.JavaCommand(command, &answer)) << answer;
    }

    // Waits until the viewer shows an image of `size` ("640x480").
    void WaitForImage(const std::string& size)
    {
        Probe probe;
        EXPECT_TRUE(session.WaitForProbe(
            [&](const Probe& p) { return Text(p, Viewer, "paneImageSize") == size; }, 20s, &probe))
            << "image size shown: " << Text(probe, Viewer, "paneImageSize");
    }

    // The image area of the viewer on screen, raised above other windows.
    ProbeItem ImageArea()
    {
        Probe probe;
        const auto find = [](const Probe& p) -> const ProbeItem* {
            for (const ProbeItem& item : p.items)
                if (item.window == Viewer && item.className == "Tav::CChildWnd")
                    return &item;
            return nullptr;
        };
        EXPECT_TRUE(session.WaitForProbe([&](const Probe& p) { return find(p) != nullptr; }, 10s, &probe));
        const ProbeItem* window = probe.Window(Viewer);
        if (window)
            session.RunOnDisplay("xdotool search --onlyvisible --name '^" + window->text +
                                 "$' windowraise >/dev/null 2>&1");
        const ProbeItem* area = find(probe);
        return area ? *area : ProbeItem{};
    }

    // Distinct pixel values in the middle of the image area on screen.
    size_t DistinctOnScreen(const ProbeItem& area, std::vector<uint32_t>* pixels = nullptr)
    {
        std::string error;
        const auto shot = session.TakeScreenshot(error);
        EXPECT_TRUE(shot.has_value()) << error;
        if (!shot)
            return 0;
        const int x = area.x + area.width / 4, y = area.y + area.height / 4;
        const int w = area.width / 2, h = area.height / 2;
        if (pixels) {
            pixels->clear();
            for (int row = y; row < y + h && row < shot->height; ++row)
                for (int column = x; column < x + w && column < shot->width; ++column)
                    pixels->push_back(shot->pixels[size_t(row) * shot->width + column]);
        }
        return shot->DistinctValues(x, y, w, h);
    }

    // Opens the viewer's save dialog, picks the dialog file through the
    // browse button, chooses the format and saves.
    void SaveImage(const char* formatRadio, const std::string& expectedFile)
    {
        ASSERT_TRUE(session.ChooseMenu(Viewer, "&File", "Save Image", 10s));
        ASSERT_TRUE(session.ClickWidget(SaveDialog, "browseButton", 10s)) << "no save dialog";
        ASSERT_TRUE(session.ClickWidget(SaveDialog, formatRadio, 10s));
        ASSERT_TRUE(session.WaitForProbe(
            [&](const Probe& p) {
                const ProbeItem* radio = p.Widget(SaveDialog, formatRadio);
                return radio && radio->checked && Text(p, SaveDialog, "fileNameEdit") == expectedFile;
            },
            10s))
            << "the dialog does not show " << expectedFile;
        ASSERT_TRUE(session.ClickWidget(SaveDialog, "saveButton", 10s));
        EXPECT_TRUE(session.WaitForProbe([](const Probe& p) { return p.Window(SaveDialog) == nullptr; }, 10s));
    }

    void DisconnectAndExit()
    {
        ASSERT_TRUE(session.ClickWidget(MainFrame, "disconnectButton", 10s));
        ASSERT_TRUE(session.WaitForProbe(
            [](const Probe& p) {
                const ProbeItem* button = p.Widget(MainFrame, "connectButton");
                return button && button->enabled;
            },
            30s))
            << "not disconnected";
        ASSERT_TRUE(session.ChooseMenu(MainFrame, "&File", "E&xit", 10s));
        const auto code = session.WaitForExit(60s);
        ASSERT_TRUE(code.has_value()) << "File > Exit did not end the program";
        EXPECT_EQ(*code, 1);
    }

    LauncherSession session;
};

} // namespace

TEST_F(E2eTest, ContinuousGrabShowsLiveImagesAFrameRateAndSavesABitmap)
{
    StartAndConnect();
    Probe started = session.ReadProbe();
    const ProbeItem* frame = started.Window(MainFrame);
    ASSERT_NE(frame, nullptr);
    const ProbeItem placement = *frame;

    JavaCommand("click Continuous grab");
    JavaCommand("expect Continuous grab=true");
    WaitForImage("640x480");

    // Live: frames counted and a rate above zero in both viewers.
    Probe probe;
    EXPECT_TRUE(session.WaitForProbe(
        [](const Probe& p) {
            return std::atoi(Text(p, Viewer, "paneFrameRate").c_str()) > 0 &&
                   std::atof(Text(p, FpsViewer, "fpsValue").c_str()) > 0;
        },
        20s, &probe))
        << "frame rate " << Text(probe, Viewer, "paneFrameRate") << " / " << Text(probe, FpsViewer, "fpsValue");
    EXPECT_FALSE(Text(probe, Viewer, "paneCounters").empty());

    // The moving gradient on screen: many grey levels, changing between shots.
    const ProbeItem area = ImageArea();
    ASSERT_GT(area.width, 32);
    std::vector<uint32_t> first, next;
    EXPECT_GT(DistinctOnScreen(area, &first), 32u);
    EXPECT_TRUE(session.WaitForProbe(
        [&](const Probe&) {
            DistinctOnScreen(area, &next);
            return next != first;
        },
        10s))
        << "the picture does not change";

    const std::string bitmap = session.Home() + "/shot.bmp";
    SaveImage("bmpRadio", bitmap);
    const std::string data = ReadFile(bitmap);
    ASSERT_GE(data.size(), 54u);
    EXPECT_EQ(data.substr(0, 2), "BM");
    EXPECT_EQ(Little32(data, 2), data.size());
    EXPECT_EQ(Little32(data, 18), 640u);
    EXPECT_EQ(int32_t(Little32(data, 22)) < 0 ? -int32_t(Little32(data, 22)) : int32_t(Little32(data, 22)), 480);
    // The picture, not a blank: the gradient's many grey levels.
    const uint32_t pixelStart = Little32(data, 10);
    ASSERT_LT(pixelStart, data.size());
    std::vector<bool> seen(256);
    size_t levels = 0;
    for (size_t i = pixelStart; i < data.size(); ++i) {
        const auto value = static_cast<unsigned char>(data[i]);
        levels += seen[value] ? 0 : 1;
        seen[value] = true;
    }
    EXPECT_GT(levels, 32u);

    // The device controller's state, read back through the Java GUI.
    JavaCommand("click Stop");
    JavaCommand("expect Continuous grab=false");
    DisconnectAndExit();

    const std::string settings = ReadFile(session.Home() + "/config/Quarlo/Tav.conf");
    const size_t launcher = settings.find("[Launcher]");
    ASSERT_NE(launcher, std::string::npos) << settings;
    EXPECT_NE(settings.find("left=" + std::to_string(placement.x), launcher), std::string::npos) << settings;
    EXPECT_NE(settings.find("top=" + std::to_string(placement.y), launcher), std::string::npos) << settings;
    EXPECT_NE(settings.find("right=" + std::to_string(placement.x + placement.width), launcher), std::string::npos)
        << settings;
    EXPECT_NE(settings.find("showCmd=1", launcher), std::string::npos) << settings;
    const size_t viewer = settings.find("[ImageViewer]");
    ASSERT_NE(viewer, std::string::npos) << settings;
    EXPECT_NE(settings.find("isVisible=1", viewer), std::string::npos) << settings;
    EXPECT_NE(settings.find("m_strFilename"), std::string::npos) << settings;
    EXPECT_EQ(session.StandardError().find("[Error]"), std::string::npos) << session.StandardError();
}

TEST_F(E2eTest, SingleShotOfAMono16CameraSavesATiffAndATiffFileIsInjected)
{
    const std::string cameras = session.Home() + "/cameras.txt";
    {
        std::ofstream file(cameras);
        file << mono16Camera;
    }
    session.SetEnvironment("TAV_SIM1394", cameras);
    StartAndConnect();

    // One frame, converted by the HDR filter to an 8-bit grey picture.
    JavaCommand("click Single shot");
    WaitForImage("320x240");
    ProbeItem area = ImageArea();
    ASSERT_GT(area.width, 32);
    std::vector<uint32_t> pixels;
    EXPECT_GT(DistinctOnScreen(area, &pixels), 32u);
    EXPECT_EQ(Coloured(pixels), 0u);

    // The filter's false colours, chosen in the Java GUI, on the next frame.
    JavaCommand("select Colours=False colour");
    JavaCommand("click Single shot");
    EXPECT_TRUE(session.WaitForProbe(
        [&](const Probe&) {
            DistinctOnScreen(area, &pixels);
            return Coloured(pixels) > pixels.size() / 10;
        },
        20s))
        << "no false colours: " << Coloured(pixels) << " of " << pixels.size();
    JavaCommand("select Colours=Grey");

    // The kept camera image as a 16-bit TIFF file.
    const std::string tiff = session.Home() + "/shot.tif";
    SaveImage("tiffRadio", tiff);
    Tav::CChunkPtr<Tav::CImageChunk> saved;
    try {
        saved = Tav::LoadTiffAsChunk(tiff.c_str())->FindChunk(Tav::GUID_ImageChunk);
    } catch (const std::exception& e) {
        FAIL() << "cannot load " << tiff << ": " << e.what();
    }
    ASSERT_FALSE(saved.IsNull());
    EXPECT_EQ(saved->width, 320);
    EXPECT_EQ(saved->height, 240);
    EXPECT_EQ(saved->pixelType, Tav::PixelTypeMono16);
    {
        int size = 0;
        const auto* samples = static_cast<const uint16_t*>(saved.LockData(&size));
        ASSERT_EQ(size, 320 * 240 * 2);
        uint16_t low = 0xFFFF, high = 0;
        for (int i = 0; i < 320 * 240; ++i) {
            low = std::min(low, samples[i]);
            high = std::max(high, samples[i]);
        }
        saved.UnlockData();
        EXPECT_LT(low, high);
        EXPECT_LT(high, 4096) << "more than 12 significant bits";
    }

    // A file of another size goes through the graph as a frame.
    Tav::CChunkPtr<Tav::CImageChunk> injected =
        Tav::CreateImageChunkBuffer(0, 0, 200, 100, Tav::GetDefaultAllocator(), Tav::PixelTypeMono16);
    injected->bitDepth = 12;
    {
        int size = 0;
        auto* samples = static_cast<uint16_t*>(injected.LockData(&size));
        for (int i = 0; i < 200 * 100; ++i)
            samples[i] = uint16_t((i % 200) * 20);
        injected.UnlockData();
    }
    const std::string injectedFile = session.Home() + "/inject.tif";
    Tav::SaveChunkAsTiff(injectedFile.c_str(), injected);
    JavaCommand("set TIFF file name=" + injectedFile);
    JavaCommand("click Inject TIFF file");
    WaitForImage("200x100");

    DisconnectAndExit();
    EXPECT_EQ(session.StandardError().find("[Error]"), std::string::npos) << session.StandardError();
}

TEST_F(E2eTest, RemovingTheCameraDuringAGrabIsShownAndAnotherCameraCanBeUsed)
{
    const std::string control = session.Home() + "/sim1394-control.txt";
    session.SetEnvironment("TAV_SIM1394_CONTROL", control);
    StartAndConnect();
    JavaCommand("click Continuous grab");
    WaitForImage("640x480");

    const size_t before = session.StandardError().size();
    {
        std::ofstream file(control, std::ios::app);
        file << "surprise-remove 1\n";
    }
    ASSERT_TRUE(session.WaitForError("sim1394: ok 1 surprise-remove 1", 10s, before));
    // The error viewer's box, written to standard error when unattended.
    ASSERT_TRUE(session.WaitForError("cef10300", 20s, before)) << session.StandardError().substr(before);
    const std::string errors = session.StandardError().substr(before);
    EXPECT_NE(errors.find("DeviceController.cpp"), std::string::npos) << errors;
    EXPECT_NE(errors.find("646"), std::string::npos) << errors;

    // Still usable: disconnect, find the cameras left, grab from the next one.
    ASSERT_TRUE(session.ClickWidget(MainFrame, "disconnectButton", 10s));
    ASSERT_TRUE(session.WaitForProbe(
        [](const Probe& p) {
            const ProbeItem* button = p.Widget(MainFrame, "connectButton");
            return button && button->enabled;
        },
        30s));
    ASSERT_TRUE(session.ClickWidget(MainFrame, "rescanButton", 10s));
    Probe probe;
    ASSERT_TRUE(session.WaitForProbe(
        [](const Probe& p) {
            const std::string device = Text(p, MainFrame, "deviceList");
            return !device.empty() && device.find("Quarlo") == std::string::npos;
        },
        10s, &probe))
        << "device list shows " << Text(probe, MainFrame, "deviceList");
    ASSERT_TRUE(session.ClickWidget(MainFrame, "connectButton", 10s));
    ASSERT_TRUE(session.WaitForProbe(
        [](const Probe& p) {
            const ProbeItem* button = p.Widget(MainFrame, "disconnectButton");
            return button && button->enabled;
        },
        30s));
    // The last picture of the removed camera stays until new frames come.
    const ProbeItem area = ImageArea();
    std::vector<uint32_t> last, next;
    DistinctOnScreen(area, &last);
    JavaCommand("click Continuous grab");
    EXPECT_TRUE(session.WaitForProbe(
        [&](const Probe&) {
            DistinctOnScreen(area, &next);
            return next != last;
        },
        20s))
        << "no frames from the second camera";
    JavaCommand("click Stop");
    DisconnectAndExit();
}

TEST_F(E2eTest, StatisticsOfALiveGrabAreDrawnAndWrittenToATextFile)
{
    StartAndConnect({"-connections", CopyExample("Statistics.xml")});
    JavaCommand("expect View=Horizontal line view");
    JavaCommand("click Continuous grab");
    JavaCommand("expect Continuous grab=true");

    // The image viewer shows the drawn line view, not the camera image.
    Probe probe;
    ASSERT_TRUE(session.WaitForProbe(
        [](const Probe& p) { return !Text(p, Viewer, "paneImageSize").empty(); }, 20s, &probe))
        << "no picture in the statistics view";
    const ProbeItem area = ImageArea();
    ASSERT_GT(area.width, 32);
    // The grey camera image would have no green: the plotted line has.
    std::vector<uint32_t> pixels;
    EXPECT_TRUE(session.WaitForProbe(
        [&](const Probe&) {
            DistinctOnScreen(area, &pixels);
            return std::count_if(pixels.begin(), pixels.end(), [](uint32_t p) {
                       const int r = p >> 16 & 255, g = p >> 8 & 255, b = p & 255;
                       return g > r + 64 && g > b + 64;
                   }) > 20;
        },
        20s))
        << "no plotted line in the view";

    // The table of the current view through the Export group's controls.
    const std::string table = session.Home() + "/lineview.txt";
    JavaCommand("set Export file=" + table);
    JavaCommand("expect Export file=" + table);
    JavaCommand("click Write table to file");
    std::string text;
    EXPECT_TRUE(session.WaitForProbe(
        [&](const Probe&) {
            text = ReadFile(table);
            return !text.empty() && text.back() == '\n';
        },
        20s))
        << "no table in " << table;

    std::istringstream lines(text);
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line, "X-Coordinate\tAmplitude");
    int rows = 0;
    double low = 1e9, high = -1e9;
    while (std::getline(lines, line)) {
        const size_t tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos) << "row " << rows << ": " << line;
        EXPECT_EQ(line.substr(0, tab), std::to_string(rows));
        char* end = nullptr;
        const double value = std::strtod(line.c_str() + tab + 1, &end);
        ASSERT_TRUE(end && *end == '\0' && end != line.c_str() + tab + 1) << "row " << rows << ": " << line;
        EXPECT_GE(value, 0.0) << "row " << rows;
        EXPECT_LE(value, 255.0) << "row " << rows;
        low = std::min(low, value);
        high = std::max(high, value);
        ++rows;
    }
    // One row per column of the Mono8 camera's image, along its gradient.
    EXPECT_EQ(rows, 640);
    EXPECT_GT(high - low, 100.0) << "a flat line: " << low << " to " << high;

    JavaCommand("click Stop");
    JavaCommand("expect Continuous grab=false");
    DisconnectAndExit();
    EXPECT_EQ(session.StandardError().find("[Error]"), std::string::npos) << session.StandardError();
}

TEST_F(E2eTest, HdrGraphShowsTheConvertedPictureAndSwitchesItsConverter)
{
    const std::string cameras = session.Home() + "/cameras.txt";
    {
        std::ofstream file(cameras);
        file << mono16Camera;
    }
    session.SetEnvironment("TAV_SIM1394", cameras);
    StartAndConnect({"-connections", CopyExample("HDR.xml")});

    // The filter learns the camera's coding over its query port.
    JavaCommand("expect Source is HDR=true");
    JavaCommand("expect Converter=Truncation");
    JavaCommand("click Single shot");
    WaitForImage("320x240");
    const ProbeItem area = ImageArea();
    ASSERT_GT(area.width, 32);
    std::vector<uint32_t> pixels;
    // The moving gradient keeps its grey levels from frame to frame; the
    // Laplacian pyramid compresses them, so fewer levels tell it apart.
    const size_t truncated = DistinctOnScreen(area, &pixels);
    EXPECT_GT(truncated, 250u);
    EXPECT_EQ(Coloured(pixels), 0u);

    JavaCommand("select Converter=Laplacian pyramid");
    JavaCommand("click Single shot");
    size_t levels = 0;
    EXPECT_TRUE(session.WaitForProbe(
        [&](const Probe&) {
            levels = DistinctOnScreen(area, &pixels);
            return levels < 235;
        },
        20s))
        << levels << " grey levels after truncation's " << truncated;
    EXPECT_EQ(Coloured(pixels), 0u);

    // And back.
    JavaCommand("select Converter=Truncation");
    JavaCommand("click Single shot");
    EXPECT_TRUE(session.WaitForProbe(
        [&](const Probe&) {
            levels = DistinctOnScreen(area, &pixels);
            return levels > 250;
        },
        20s))
        << levels << " grey levels instead of " << truncated;

    DisconnectAndExit();
    EXPECT_EQ(session.StandardError().find("[Error]"), std::string::npos) << session.StandardError();
}
