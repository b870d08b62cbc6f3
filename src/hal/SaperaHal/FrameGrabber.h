#pragma once

#include "Sim1394/Sim1394.h"

#include <cstdint>
#include <string>

namespace Tav::Hal::Sapera {

// The simulated frame grabber behind the SaperaHal stand-in: a camera-link
// board named by the ini file's [Coreco] DeviceName, fed by a camera drawn
// with the 1394 simulation's test patterns. The ini file's [Camera] section
// describes the camera with the keys of a simulated 1394 camera description
// (width, height, coding, bit_depth, bayer, frame_rate, ...).
class CFrameGrabber {
public:
    // Reads the ini file. The board name comes from `boardName` (the
    // descriptor's reading of [Coreco] DeviceName). Throws 0xCEF30020 for a
    // bad [Camera] section or a coding the grabber cannot deliver.
    CFrameGrabber(const std::string& iniFile, std::string boardName);

    const std::string& BoardName() const { return boardName; }
    uint32_t Width() const { return camera.width; }
    uint32_t Height() const { return camera.height; }
    // Image chunk pixel type (the IIDC coding), significant bits, Bayer order.
    uint32_t Coding() const { return camera.coding; }
    uint32_t BitDepth() const { return bitDepth; }
    uint32_t FilterPattern() const { return camera.bayer; }
    uint32_t BytesPerPixel() const { return bytesPerPixel; }
    uint32_t ImageBytes() const { return camera.width * camera.height * bytesPerPixel; }
    // Frames per second; 0: as fast as buffers come back.
    double FrameRate() const { return camera.frameRate; }

    // Draws frame `frame` into `pixels` (ImageBytes() bytes).
    void Fill(uint32_t frame, void* pixels) const;

private:
    std::string boardName;
    Sim1394::CameraDescription camera;
    uint32_t bitDepth = 0;
    uint32_t bytesPerPixel = 1;
};

} // namespace Tav::Hal::Sapera
