#include "FrameGrabber.h"

#include "Common/Exception.h"

#include <cctype>
#include <fstream>
#include <sstream>
#include <vector>

namespace Tav::Hal::Sapera {

namespace {

const char* const sourceFile = "FrameGrabber.cpp";

struct CameraLayerResourceName {
    static const char* GetName() { return "TavRheaHalError.dll"; }
};
using CGrabberException = CExceptionDerivation<CameraLayerResourceName>;
constexpr uint32_t ErrorGrabber = 0xCEF30020;

// The lines of one ini section, as a description text of one camera.
std::string CameraSection(const std::string& iniFile)
{
    std::ifstream in(iniFile, std::ios::binary);
    std::string text = "[camera]\n", line;
    bool inSection = false;
    while (std::getline(in, line)) {
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == ';')
            continue;
        if (line[first] == '[') {
            std::string name = line.substr(first, line.find(']') + 1 - first);
            for (char& c : name)
                c = char(std::tolower(static_cast<unsigned char>(c)));
            inSection = name == "[camera]";
            continue;
        }
        if (inSection)
            text += line.substr(first) + "\n";
    }
    return text;
}

} // namespace

CFrameGrabber::CFrameGrabber(const std::string& iniFile, std::string name) : boardName(std::move(name))
{
    std::vector<Sim1394::CameraDescription> cameras;
    std::string error;
    if (!Sim1394::ParseDescription(CameraSection(iniFile), cameras, error) || cameras.size() != 1)
        throw CGrabberException(ErrorGrabber, __LINE__, sourceFile, ("[Camera] " + error).c_str());
    camera = cameras.front();
    if (camera.width == 0)
        camera.width = camera.maxWidth;
    if (camera.height == 0)
        camera.height = camera.maxHeight;
    if (camera.width == 0 || camera.height == 0 || camera.width > 8192 || camera.height > 8192)
        throw CGrabberException(ErrorGrabber, __LINE__, sourceFile, "[Camera] width and height: 1..8192");
    switch (camera.coding) {
    case Sim1394::Mono8:
    case Sim1394::Raw8: bytesPerPixel = 1; break;
    case Sim1394::Yuv422:
    case Sim1394::Mono16: bytesPerPixel = 2; break;
    case Sim1394::Rgb8: bytesPerPixel = 3; break;
    default: throw CGrabberException(ErrorGrabber, __LINE__, sourceFile, "[Camera] coding: Mono8, Mono16, YUV422, RGB8 or Raw8");
    }
    if (camera.coding == Sim1394::Mono16)
        bitDepth = camera.bitDepth ? camera.bitDepth : 16;
}

void CFrameGrabber::Fill(uint32_t frame, void* pixels) const
{
    const uint32_t maxValue = bitDepth ? (1u << bitDepth) - 1 : 255u;
    auto* bytes = static_cast<uint8_t*>(pixels);
    for (uint32_t y = 0; y < camera.height; ++y) {
        for (uint32_t x = 0; x < camera.width; ++x) {
            switch (camera.coding) {
            case Sim1394::Mono8: *bytes++ = uint8_t(Sim1394::GradientValue(x, y, frame, 255)); break;
            case Sim1394::Raw8:
                *bytes++ = uint8_t(Sim1394::ChannelValue(Sim1394::BayerChannel(camera.bayer, x, y), x, y, frame, 255));
                break;
            case Sim1394::Mono16: {
                const uint32_t value = Sim1394::GradientValue(x, y, frame, maxValue);
                *bytes++ = uint8_t(value);
                *bytes++ = uint8_t(value >> 8);
                break;
            }
            case Sim1394::Rgb8:
                for (int channel = 0; channel < 3; ++channel)
                    *bytes++ = uint8_t(Sim1394::ChannelValue(channel, x, y, frame, 255));
                break;
            case Sim1394::Yuv422:
                // U Y0 V Y1: each pixel's chroma byte, then its luma.
                *bytes++ = 128;
                *bytes++ = uint8_t(Sim1394::GradientValue(x, y, frame, 255));
                break;
            default: break;
            }
        }
    }
}

} // namespace Tav::Hal::Sapera
