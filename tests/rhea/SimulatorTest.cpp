#include "Rhea.h"
#include "SimFixture.h"

#include "Core/Crc16.h"
#include "Platform/SystemError.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

using namespace Rhea;
using namespace Tav::Sim1394;

namespace {

std::string ReadExample(const char* name)
{
    std::ifstream in(std::string(TAV_SIM1394_EXAMPLES) + "/" + name);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

uint32_t ReadQuadlet(CRhea& rhea, uint64_t address)
{
    const uint32_t in[2] = {uint32_t(address), uint32_t(address >> 32)};
    uint32_t value = 0;
    if (!rhea.Transmit(0x80103FC0, in, sizeof in, &value, sizeof value))
        throw RheaException(Tav::Platform::GetLastError(), "ReadQuadlet");
    return value;
}

void WriteQuadlet(CRhea& rhea, uint64_t address, uint32_t value)
{
    const uint32_t in[3] = {uint32_t(address), uint32_t(address >> 32), value};
    if (!rhea.Transmit(0x80103FC4, in, sizeof in, nullptr, 0))
        throw RheaException(Tav::Platform::GetLastError(), "WriteQuadlet");
}

// The advanced-feature probe as the camera layer runs it; 0 when absent.
uint64_t ProbeFeature(CRhea& rhea, const Tav::Platform::Guid& feature, uint64_t key)
{
    if (!(ReadQuadlet(rhea, 0xFFFFF0F00400) & 0x80000000u))
        return 0;
    const uint32_t offset = ReadQuadlet(rhea, 0xFFFFF0F00480);
    if (!offset)
        return 0;
    const uint64_t acr = 0xFFFFF0000000ull + 4ull * offset;
    WriteQuadlet(rhea, acr, uint32_t(key >> 16));
    WriteQuadlet(rhea, acr + 4, uint32_t(key & 0xFFFF) << 16 | 0xF000);
    if ((ReadQuadlet(rhea, acr) & ReadQuadlet(rhea, acr + 4)) == 0xFFFFFFFFu)
        return 0;
    uint32_t words[4];
    std::memcpy(words, &feature, 16);
    for (int i = 0; i < 4; ++i)
        WriteQuadlet(rhea, acr + 0x10 + 4 * i, words[i]);
    return uint64_t(ReadQuadlet(rhea, acr + 0x24)) << 32 | ReadQuadlet(rhea, acr + 0x20);
}

// One frame through the driver client.
std::vector<uint8_t> GrabOne(CRhea& rhea)
{
    const uint32_t bytes = rhea.formatSeven[0].BytePerFrame();
    std::vector<uint8_t> frame(bytes);
    rhea.AllocateResources(1, bytes);
    rhea.GrabImageAsync(frame.data(), bytes, 1, false);
    rhea.continuousShot = true;
    uint32_t kind = 0, error = 0;
    uintptr_t context = 0;
    rhea.GetCompletion(kind, error, context, 10000);
    rhea.continuousShot = false;
    rhea.FreeResources();
    EXPECT_EQ(kind, KindImageBuffer);
    EXPECT_EQ(error, 0u);
    return frame;
}

uint16_t Get16(const uint8_t* p)
{
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

// Runs in a fresh process: nothing has installed the driver there yet.
bool DefaultCamerasArePresent()
{
    unsetenv("TAV_SIM1394");
    Install();
    const auto names = CRhea::DeviceNames();
    if (names.size() != 3)
        return false;
    CRhea a, b, c;
    a.Open(names[0]);
    b.Open(names[1]);
    c.Open(names[2]);
    return a.info.VendorName() == "Quarlo" && a.formatSeven[0].ColorCoding() == 0 &&
           b.info.VendorName() != "Quarlo" && b.formatSeven[0].ColorCoding() == 2 &&
           c.info.VendorName() == "Quarlo" && c.formatSeven[0].ColorCoding() == 5 &&
           c.formatSeven[0].MaxSize() == CRhea::Pair(1024, 768);
}

} // namespace

TEST(SimDescription, ParsesEveryKey)
{
    std::vector<CameraDescription> cameras;
    std::string error;
    ASSERT_TRUE(ParseDescription(R"(
# two cameras
[camera]
vendor = Quarlo
model = QX 1
firmware = 3.0
vendor_id = 0x00C0DE
chip_id = 12345
max_width = 128
max_height = 64
width = 64
height = 32
left = 8
top = 4
unit_width = 8
unit_height = 4
unit_left = 4
unit_top = 2
coding = Raw16
codings = raw16, Raw8, 0
bit_depth = 10
bayer = BGGR
format7_modes = 0, 2
fixed_modes = 5/4, 3/2
frame_rate = 12.5
max_bytes_per_packet = 2048
packet_increment = 8
bytes_per_packet = 1024
temporal_noise = 1.5
spatial_noise = 0.5
seed = 3
advanced_features = off
image_header = yes
frame_counter = no
cycle_time = on
check_word = true
access_key = 0x123456789ABC
[CAMERA]
frame_rate = unlimited
)", cameras, error)) << error;
    ASSERT_EQ(cameras.size(), 2u);
    const CameraDescription& c = cameras[0];
    EXPECT_EQ(c.model, "QX 1");
    EXPECT_EQ(c.chipId, 12345u);
    EXPECT_EQ(c.coding, uint32_t(Raw16));
    EXPECT_EQ(c.codings, (std::vector<uint32_t>{Raw16, Raw8, Mono8}));
    EXPECT_EQ(c.bayer, 3u);
    EXPECT_EQ(c.format7Modes, (std::vector<uint32_t>{0, 2}));
    ASSERT_EQ(c.fixedModes.size(), 2u);
    EXPECT_EQ(c.fixedModes[1].mode, 3u);
    EXPECT_EQ(c.fixedModes[1].rate, 2u);
    EXPECT_DOUBLE_EQ(c.frameRate, 12.5);
    EXPECT_EQ(c.advancedFeatures, 0);
    EXPECT_TRUE(c.imageHeader);
    EXPECT_FALSE(c.frameCounter);
    EXPECT_TRUE(c.checkWord);
    EXPECT_EQ(c.accessKey, 0x123456789ABCull);
    EXPECT_EQ(cameras[1].frameRate, 0.0);
    EXPECT_EQ(cameras[1].maxWidth, 640u);
}

TEST(SimDescription, BadTextsNameTheLineAndGiveNoCamera)
{
    const struct {
        const char* text;
        const char* error;
    } bad[] = {
        {"[camera]\nwidht = 3\n", "line 2: unknown key \"widht\""},
        {"model = X\n", "line 1: property before the first \"[camera]\""},
        {"[camera]\nmax_width = -4\n", "line 2: bad value \"-4\" for max_width"},
        {"[camera]\nmax_width = 99999999999999999999\n", "line 2: bad value"},
        {"[camera]\ncoding = YUV411\n", "line 2: bad value"},
        {"[camera]\nframe_rate = fast\n", "line 2: bad value"},
        {"[camera]\nvendor_id = 0x1000000\n", "line 2: bad value"},
        {"[camera]\njust words\n", "line 2: expected"},
        {"\n[camera]\nwidth = 700\n", "line 2: camera: image does not fit"},
        {"[camera]\ncoding = Mono16\ncodings = Mono8\n", "line 1: camera: coding is not among codings"},
        {"[camera]\nformat7_modes = 1, 1\n", "line 1: camera: format7_modes"},
        {"[camera]\nformat7_modes = none\n", "line 1: camera: the camera offers no video mode"},
        {"[camera]\nmax_width = 65536\n", "sensor size"},
        {"[camera]\nmax_width = 20000\nmax_height = 20000\n", "sensor size"},
        {"[camera]\nbytes_per_packet = 6\n", "bytes_per_packet"},
        {"[camera]\nfixed_modes = 0/4\n", "fixed_modes"},
        {"[camera]\n[camera]\nunit_width = 0\n", "line 2: camera: size unit"},
    };
    for (const auto& b : bad) {
        std::vector<CameraDescription> cameras(1);
        std::string error;
        EXPECT_FALSE(ParseDescription(b.text, cameras, error)) << b.text;
        EXPECT_NE(error.find(b.error), std::string::npos) << b.text << " gave " << error;
        EXPECT_EQ(cameras.size(), 1u); // untouched
    }
}

TEST(SimDescription, ExampleFilesParseAndDefaultMatchesTheEmbeddedSet)
{
    for (const char* name : {"default.txt", "noisy-bayer.txt", "benchmark.txt", "none.txt"}) {
        std::vector<CameraDescription> cameras;
        std::string error;
        EXPECT_TRUE(ParseDescription(ReadExample(name), cameras, error)) << name << ": " << error;
    }
    std::vector<CameraDescription> fromFile;
    std::string error;
    ASSERT_TRUE(ParseDescription(ReadExample("default.txt"), fromFile, error));
    const auto embedded = DefaultCameras();
    ASSERT_EQ(fromFile.size(), embedded.size());
    for (size_t i = 0; i < embedded.size(); ++i) {
        EXPECT_EQ(fromFile[i].model, embedded[i].model);
        EXPECT_EQ(fromFile[i].coding, embedded[i].coding);
        EXPECT_EQ(fromFile[i].maxWidth, embedded[i].maxWidth);
        EXPECT_EQ(fromFile[i].frameRate, embedded[i].frameRate);
        EXPECT_EQ(fromFile[i].bitDepth, embedded[i].bitDepth);
        EXPECT_EQ(fromFile[i].imageHeader, embedded[i].imageHeader);
        EXPECT_EQ(fromFile[i].checkWord, embedded[i].checkWord);
        EXPECT_EQ(fromFile[i].maxBytesPerPacket, embedded[i].maxBytesPerPacket);
    }
}

TEST(SimDescription, ABadFileNamedByTheEnvironmentGivesNoCamera)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string file = testing::TempDir() + "/sim1394-bad.txt";
    std::ofstream(file) << "[camera]\nvendor = Quarlo\nframe_rate = -3\n";
    EXPECT_EXIT(
        {
            setenv("TAV_SIM1394", file.c_str(), 1);
            Install();
            std::exit(Simulator::Instance().Cameras().empty() && CRhea::DeviceNames().empty() ? 0 : 1);
        },
        testing::ExitedWithCode(0), "sim1394: .*sim1394-bad.txt: line 3: bad value \"-3\" for frame_rate; no camera");
}

TEST(SimDescription, AMissingFileNamedByTheEnvironmentGivesNoCamera)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("TAV_SIM1394", "/nonexistent/cameras.txt", 1);
            Install();
            std::exit(Simulator::Instance().Cameras().empty() ? 0 : 1);
        },
        testing::ExitedWithCode(0), "sim1394: cannot read the camera description \"/nonexistent/cameras.txt\"");
}

TEST(SimDescription, WithoutTheEnvironmentTheThreeDefaultCamerasArePresent)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(DefaultCamerasArePresent() ? 0 : 1), testing::ExitedWithCode(0), "");
}

TEST(SimRegisters, AdvancedFeatureProbeAndSwitchingTheHeaderOn)
{
    RheaTest::LoadCameras("[camera]\nvendor = Quarlo\nmax_width = 16\nmax_height = 8\ncheck_word = on\n");
    CRhea rhea;
    rhea.Open(Simulator::Instance().DeviceName(RheaTest::OnlyCamera()));
    EXPECT_EQ(rhea.formatSeven[0].BytePerFrame(), 128u);

    EXPECT_EQ(ProbeFeature(rhea, ImageHeaderFeature, DefaultAccessKey ^ 1), 0u); // wrong key
    const uint64_t header = ProbeFeature(rhea, ImageHeaderFeature, DefaultAccessKey);
    const uint64_t check = ProbeFeature(rhea, CheckWordFeature, DefaultAccessKey);
    ASSERT_NE(header, 0u);
    ASSERT_NE(check, 0u);
    EXPECT_NE(header, check);
    EXPECT_EQ(ProbeFeature(rhea, Tav::Platform::Guid{1, 2, 3, {}}, DefaultAccessKey), 0u);

    EXPECT_EQ(ReadQuadlet(rhea, header), 0x80000000u); // present, off
    EXPECT_EQ(ReadQuadlet(rhea, check), 0x80000000u);  // on, but only with the header
    WriteQuadlet(rhea, header, 1);
    EXPECT_EQ(ReadQuadlet(rhea, header), 0x80000001u);
    EXPECT_EQ(ReadQuadlet(rhea, check), 0x80000001u);
    EXPECT_EQ(rhea.formatSeven[0].BytePerFrame(), 128u + 48 + 28 + 28 + 4);
    auto frame = GrabOne(rhea);
    EXPECT_EQ(frame[128 + 19], 0u); // pixel type Mono8 in the camera's header
}

TEST(SimRegisters, CameraOfAnotherVendorHasNoFeatureSetAndUnknownAddressesFail)
{
    RheaTest::LoadCameras("[camera]\nvendor = Other\nmax_width = 16\nmax_height = 8\nfixed_modes = 5/4\n");
    CRhea rhea;
    rhea.Open(Simulator::Instance().DeviceName(RheaTest::OnlyCamera()));
    EXPECT_EQ(ProbeFeature(rhea, ImageHeaderFeature, DefaultAccessKey), 0u);
    EXPECT_RHEA_ERROR(ReadQuadlet(rhea, 0xFFFFF0F00480), Tav::Platform::ErrorCrc);
    EXPECT_RHEA_ERROR(ReadQuadlet(rhea, AccessControlRegister), Tav::Platform::ErrorCrc);
    EXPECT_RHEA_ERROR(WriteQuadlet(rhea, 0xFFFFF0F00FF0, 1), Tav::Platform::ErrorCrc);

    // The IIDC command registers mirror what the driver codes set.
    EXPECT_EQ(ReadQuadlet(rhea, 0xFFFFF0F00100), 0x81000000u); // formats 0 and 7, MSB first
    EXPECT_EQ(ReadQuadlet(rhea, 0xFFFFF0F00180), 0x04000000u); // format 0: mode 5
    EXPECT_EQ(ReadQuadlet(rhea, 0xFFFFF0F00608), 7u << 29);
    WriteQuadlet(rhea, 0xFFFFF0F00608, 0); // format 0: its first mode and rate
    uint32_t f, m, r;
    rhea.GetVideoMode(f, m, r);
    EXPECT_EQ(f, 0u);
    EXPECT_EQ(m, 5u);
    EXPECT_EQ(r, 4u);
    WriteQuadlet(rhea, 0xFFFFF0F00608, 7u << 29);
    const uint32_t csr = ReadQuadlet(rhea, 0xFFFFF0F002E0);
    const uint64_t mode0 = 0xFFFFF0000000ull + 4ull * csr;
    EXPECT_EQ(ReadQuadlet(rhea, mode0), 16u << 16 | 8u); // maximum size
    WriteQuadlet(rhea, mode0 + 0x0C, 8u << 16 | 4u);      // image size
    EXPECT_EQ(rhea.formatSeven[0].ImageSize(), CRhea::Pair(8, 4));
    EXPECT_EQ(ReadQuadlet(rhea, mode0 + 0x3C), 32u); // bytes per frame
}

TEST(SimRegisters, FeatureControlRegistersKeepValuesInTheirRange)
{
    RheaTest::LoadCameras("[camera]\nvendor = Other\nmax_width = 16\nmax_height = 8\n");
    CRhea rhea;
    rhea.Open(Simulator::Instance().DeviceName(RheaTest::OnlyCamera()));
    // Brightness, auto exposure, gamma, shutter, gain and trigger, MSB first.
    EXPECT_EQ(ReadQuadlet(rhea, 0xFFFFF0F00404), 0xC3880000u);
    EXPECT_EQ(ReadQuadlet(rhea, 0xFFFFF0F00408), 0u);
    EXPECT_EQ(ReadQuadlet(rhea, 0xFFFFF0F00520), 0x870002A8u); // gain: 0 .. 680
    EXPECT_EQ(ReadQuadlet(rhea, 0xFFFFF0F0051C), 0x87001FFFu); // shutter: 1 .. 4095
    EXPECT_EQ(ReadQuadlet(rhea, 0xFFFFF0F00508), 0u);          // sharpness: absent

    const uint64_t gain = 0xFFFFF0F00820;
    EXPECT_EQ(ReadQuadlet(rhea, gain), 0x82000000u); // present, on, manual, 0
    WriteQuadlet(rhea, gain, 0x82000000u | 300);
    EXPECT_EQ(ReadQuadlet(rhea, gain), 0x82000000u | 300);
    EXPECT_RHEA_ERROR(WriteQuadlet(rhea, gain, 0x82000000u | 681), Tav::Platform::ErrorInvalidParameter);
    EXPECT_EQ(ReadQuadlet(rhea, gain) & 0xFFF, 300u);
    EXPECT_EQ(ReadQuadlet(rhea, 0xFFFFF0F00804), 0x83000200u); // auto exposure in automatic mode

    // Trigger mode 0 is offered but cannot be switched on.
    EXPECT_EQ(ReadQuadlet(rhea, 0xFFFFF0F00830), 0x80000000u);
    EXPECT_RHEA_ERROR(WriteQuadlet(rhea, 0xFFFFF0F00830, 0x82000000u), Tav::Platform::ErrorInvalidParameter);
    EXPECT_RHEA_ERROR(ReadQuadlet(rhea, 0xFFFFF0F00808), Tav::Platform::ErrorCrc);
}

TEST(SimFrames, ColourCodingsFollowThePattern)
{
    RheaTest::LoadCameras("[camera]\nmax_width = 8\nmax_height = 4\ncodings = Mono8, RGB8, YUV422, Raw8, Raw16, Mono16\n"
                          "bayer = GBRG\nbit_depth = 10\nframe_rate = 1000\n");
    CRhea rhea;
    rhea.Open(Simulator::Instance().DeviceName(RheaTest::OnlyCamera()));
    auto& mode = rhea.formatSeven[0];

    mode.ColorCoding = Rgb8;
    auto f = GrabOne(rhea);
    ASSERT_EQ(f.size(), 8u * 4 * 3);
    // Every pixel: R = G(x, y), G = G(x + 64, y), B = 255 - R, for one frame n.
    const uint32_t n = [&] {
        for (uint32_t k = 0; k < 64; ++k)
            if (GradientValue(0, 0, k, 255) == f[0])
                return k;
        return 999u;
    }();
    ASSERT_NE(n, 999u);
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 8; ++x) {
            const uint8_t* p = &f[(y * 8 + x) * 3];
            EXPECT_EQ(p[0], ChannelValue(0, x, y, n, 255));
            EXPECT_EQ(p[1], ChannelValue(1, x, y, n, 255));
            EXPECT_EQ(p[2], ChannelValue(2, x, y, n, 255));
        }

    mode.ColorCoding = Yuv422;
    f = GrabOne(rhea);
    ASSERT_EQ(f.size(), 8u * 4 * 2);
    for (size_t i = 0; i < f.size(); i += 4) {
        EXPECT_EQ(f[i], 128); // U
        EXPECT_EQ(f[i + 2], 128); // V
        EXPECT_EQ(uint8_t(f[i + 3] - f[i + 1]), 1); // Y1 is one step right of Y0
    }

    mode.ColorCoding = Raw16;
    f = GrabOne(rhea);
    ASSERT_EQ(f.size(), 8u * 4 * 2);
    const uint32_t maxValue = 1023;
    uint32_t frame = 999;
    for (uint32_t k = 0; k < 64 && frame == 999; ++k)
        if (ChannelValue(BayerChannel(1, 0, 0), 0, 0, k, maxValue) == Get16(&f[0]) &&
            ChannelValue(BayerChannel(1, 1, 0), 1, 0, k, maxValue) == Get16(&f[2]))
            frame = k;
    ASSERT_NE(frame, 999u);
    EXPECT_EQ(BayerChannel(1, 0, 0), 1); // GBRG: green first
    EXPECT_EQ(BayerChannel(1, 0, 1), 0);
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 8; ++x)
            EXPECT_EQ(Get16(&f[(y * 8 + x) * 2]), ChannelValue(BayerChannel(1, x, y), x, y, frame, maxValue));
}

TEST(SimFrames, CorruptedCheckWordsHitTheNextFramesOnly)
{
    RheaTest::LoadCameras("[camera]\nvendor = Quarlo\nmax_width = 8\nmax_height = 4\nimage_header = on\n"
                          "check_word = on\nframe_rate = 1000\n");
    const int id = RheaTest::OnlyCamera();
    CRhea rhea;
    rhea.Open(Simulator::Instance().DeviceName(id));
    auto checkWordMatches = [](const std::vector<uint8_t>& frame) {
        uint32_t word = 0;
        std::memcpy(&word, &frame[frame.size() - 4], 4);
        return Tav::Crc16Xmodem(frame.data(), frame.size() - 4) == word;
    };
    ASSERT_TRUE(checkWordMatches(GrabOne(rhea)));
    Simulator::Instance().CorruptCheckWords(id, 2);
    EXPECT_FALSE(checkWordMatches(GrabOne(rhea)));
    EXPECT_FALSE(checkWordMatches(GrabOne(rhea)));
    EXPECT_TRUE(checkWordMatches(GrabOne(rhea)));
    EXPECT_EQ(Simulator::Instance().Statistics(id).checkWordsCorrupted, 2u);
    EXPECT_EQ(Simulator::Instance().Statistics(id).framesDelivered, 4u);
}

TEST(SimFrames, NoiseHasTheStatedSigmas)
{
    RheaTest::LoadCameras("[camera]\nmax_width = 256\nmax_height = 256\ncoding = Mono16\nbit_depth = 12\n"
                          "temporal_noise = 4\nspatial_noise = 3\nframe_rate = 1000\nseed = 11\n");
    CRhea rhea;
    rhea.Open(Simulator::Instance().DeviceName(RheaTest::OnlyCamera()));
    const auto a = GrabOne(rhea), b = GrabOne(rhea);
    // The gradient moves between frames; the spatial noise does not. Pixels
    // are compared with the noise-free value of their own frame, found from
    // the median residual of the first line.
    auto residuals = [](const std::vector<uint8_t>& f) {
        uint32_t best = 0;
        double bestError = 1e300;
        for (uint32_t n = 0; n < 64; ++n) {
            double e = 0;
            for (uint32_t x = 0; x < 256; ++x)
                e += std::fabs(double(Get16(&f[x * 2])) - GradientValue(x, 0, n, 4095));
            if (e < bestError) {
                bestError = e;
                best = n;
            }
        }
        std::vector<double> r;
        for (uint32_t y = 0; y < 256; ++y)
            for (uint32_t x = 0; x < 256; ++x) {
                const double expected = GradientValue(x, y, best, 4095);
                if (expected > 100 && expected < 3995) // away from clipping
                    r.push_back(double(Get16(&f[(y * 256 + x) * 2])) - expected);
                else
                    r.push_back(NAN);
            }
        return r;
    };
    const auto ra = residuals(a), rb = residuals(b);
    double total = 0, difference = 0;
    size_t count = 0;
    for (size_t i = 0; i < ra.size(); ++i)
        if (!std::isnan(ra[i]) && !std::isnan(rb[i])) {
            total += ra[i] * ra[i];
            difference += (ra[i] - rb[i]) * (ra[i] - rb[i]);
            ++count;
        }
    ASSERT_GT(count, 30000u);
    const double sigmaTotal = std::sqrt(total / count);         // sqrt(4^2 + 3^2) = 5
    const double sigmaTemporal = std::sqrt(difference / count / 2); // 4
    EXPECT_NEAR(sigmaTotal, 5.0, 0.3);
    EXPECT_NEAR(sigmaTemporal, 4.0, 0.3);
}
