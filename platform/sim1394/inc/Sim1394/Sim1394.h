#pragma once

// A simulated IEEE-1394 IIDC camera driver, registered with the platform's
// device layer (Platform/DeviceDriver.h) so that the driver client finds its
// cameras, opens them and drives them with the driver's I/O control codes as
// it would a kernel driver. Each camera has its own register space, its own
// isochronous resources and a frame clock thread that fills queued buffers
// with a known test pattern at the camera's frame rate, limited by the bus:
// one packet per 125 us isochronous cycle.
//
// Device paths: \\?\1394#<vendor>&<model>#<EUI-64 in hex>#{D535C794-A527-4B72-923A-63029FA5D83B}
// (characters of vendor and model other than letters, digits, '-', '.'
// and '_' become '_').
//
// Camera description file, named by the environment variable TAV_SIM1394
// (UTF-8 text; '#' starts a comment; blank lines are ignored). Every
// "[camera]" line starts a camera; "key = value" lines set its properties:
//
//   vendor, model, firmware   texts (vendor "Quarlo" enables the advanced
//                             features unless advanced_features says otherwise)
//   vendor_id                 24-bit IEEE vendor id (hex with 0x, or decimal)
//   chip_id                   40-bit chip id (serial number)
//   max_width, max_height     sensor size in pixels (Format 7)
//   width, height             current image size (default: the maximum)
//   left, top                 current image position (default 0)
//   unit_width, unit_height   size unit (default 4 x 2)
//   unit_left, unit_top       position unit (default: the size unit)
//   coding                    current colour coding: Mono8, Mono16, YUV422,
//                             RGB8, Raw8, Raw16 (or its IIDC number)
//   codings                   supported codings, comma-separated (default: coding)
//   bit_depth                 significant bits of 16-bit codings (1..16, default 16)
//   bayer                     RGGB, GBRG, GRBG or BGGR, for Raw8/Raw16 (default RGGB)
//   format7_modes             Format 7 modes offered, comma-separated (default 0)
//   fixed_modes               Format 0 modes offered beside Format 7, each
//                             "mode/rate" (e.g. "5/4, 3/3"); rate index r
//                             means 1.875 * 2^r frames/s
//   frame_rate                Format 7 frames per second (at least one an
//                             hour), or "unlimited"
//                             (as fast as queued buffers allow, bus ignored)
//   max_bytes_per_packet      default 4096
//   packet_increment          default 4
//   bytes_per_packet          current (default: the maximum)
//   temporal_noise            sigma of Gaussian noise per frame, in sample units
//   spatial_noise             sigma of a fixed Gaussian pattern per pixel
//   seed                      seed of the noise generators
//   advanced_features         on/off: the advanced-feature register space
//   image_header              on/off: the camera writes the image header
//   frame_counter, cycle_time on/off: chunks behind the header (default on)
//   check_word                on/off: CRC-16/XMODEM check word at the end
//   access_key                48-bit access key of the advanced features
//
// A bad file is reported on stderr with its line number and yields no camera.
// Without TAV_SIM1394 three cameras are present: a "Quarlo" Mono8 640x480
// camera at 60 frames/s with camera-written header, frame counter, cycle
// time and check word; a YUV 4:2:2 640x480 camera of another vendor at
// 30 frames/s; and a "Quarlo" Mono16 (12 significant bits) 1024x768
// camera at 30 frames/s.
//
// Frames: sample value of the moving gradient at sensor position (x, y) of
// frame n is GradientValue (below); colour channels are R = G(x, y),
// G = G(x + 64, y), B = max - G(x, y); YUV 4:2:2 carries Y = G(x, y),
// U = V = 128; Raw codings sample the colour channel the Bayer pattern puts
// at (x, y). Noise is added, rounded and clipped to the sample range.
// With image_header on, the frame holds, back to back: the pixels, the
// 24-byte image header and its 24-byte chunk trailer, the frame counter
// chunk (28 bytes), the cycle-time chunk (28 bytes) and the check word
// (4 bytes, the CRC of every byte in front of it). The check word is only
// written (and its feature only reads as on) while the image header is on.
//
// Quadlet registers (addresses within the node; the upper 16 bits of the
// 64-bit address are ignored):
//   0xFFFFF0F00000 + 0x100 formats, 0x180 + 4f modes of format f, 0x200 +
//     0x20f + 4m rates, 0x2E0 + 4m quadlet offset of the Format 7 block of
//     mode m, 0x400 basic functions (bit 31: advanced features), 0x480
//     quadlet offset of the access-control register, 0x600/0x604/0x608
//     current rate/mode/format (in bits 31-29), 0x614 stream on (bit 31),
//     0x61C one shot (bit 31), 0x000 initialise.
//   0xFFFFF0F10000 + 0x100m, Format 7 mode m: 0x00 maximum size, 0x04 size
//     unit, 0x08 position, 0x0C size (each width << 16 | height), 0x10
//     coding (bits 31-24), 0x14 supported codings, 0x34 pixels, 0x38/0x3C
//     bytes per frame, 0x40 increment << 16 | maximum bytes per packet, 0x44
//     bytes per packet << 16, 0x48 packets per frame, 0x4C position unit.
//   AccessControlRegister + 0x00 / 0x04: the access key (key bits 47-16;
//     bits 15-0 << 16 | 0xF000); both read back all ones without the right
//     key. + 0x10..0x1C: the feature GUID as four little-endian words of its
//     16 bytes; + 0x20 / 0x24: the feature register's address, low and high
//     word (0: unknown feature or no access). A feature register reads bit
//     31 (present) and bit 0 (on); writing bit 0 switches it.
//
// Settings that change the frame (mode, geometry, coding, packet size, the
// image header and check word features) are refused with 170 (busy) while
// isochronous resources are allocated.
//
// Driver statuses: a buffer that the bus could not fill completes with
// IncompleteFrameStatus (reported by the client as 0xCFE00021); cancelled
// buffers with 995 (operation aborted); requests to a removed camera fail
// with 1167 (device not connected); invalid arguments with 87; requests
// that need resources or a stopped stream with 21 (not ready) or 170 (busy);
// unknown codes with 1; register addresses the camera does not answer with
// 23 (data error).

#include "Platform/Guid.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Tav::Sim1394 {

extern const Platform::Guid InterfaceClass;

// Access key of the advanced features unless a camera states its own.
constexpr uint64_t DefaultAccessKey = 0x515541524C4Full;

// Driver status of a frame the bus could not complete.
constexpr uint32_t IncompleteFrameStatus = 0xEFE00021u;

// Advanced features and their identifiers (Windows GUID byte order).
extern const Platform::Guid ImageHeaderFeature; // {4E7ABCB0-1B84-11D8-9651-00105A5BAE55}
extern const Platform::Guid CheckWordFeature;   // {3B34004E-1B84-11D8-83B3-00105A5BAE55}

// Advanced-feature registers: the access-control register block.
constexpr uint64_t AccessControlRegister = 0xFFFFF1000000ull;

enum Coding : uint32_t { Mono8 = 0, Yuv422 = 2, Rgb8 = 4, Mono16 = 5, Raw8 = 9, Raw16 = 10 };

inline uint32_t GradientValue(uint32_t x, uint32_t y, uint32_t frame, uint32_t maxValue)
{
    return ((x + y + 4u * frame) & 255u) * maxValue / 255u;
}

// Channel 0 red (also mono), 1 green, 2 blue.
inline uint32_t ChannelValue(int channel, uint32_t x, uint32_t y, uint32_t frame, uint32_t maxValue)
{
    switch (channel) {
    case 1: return GradientValue(x + 64, y, frame, maxValue);
    case 2: return maxValue - GradientValue(x, y, frame, maxValue);
    default: return GradientValue(x, y, frame, maxValue);
    }
}

// The channel a Bayer pattern (0 RGGB, 1 GBRG, 2 GRBG, 3 BGGR) puts at (x, y).
int BayerChannel(uint32_t pattern, uint32_t x, uint32_t y);

struct FixedMode {
    uint32_t mode = 0; // Format 0 mode
    uint32_t rate = 0; // rate index
};

struct CameraDescription {
    std::string vendor = "Sim";
    std::string model = "Camera";
    std::string firmware = "1.0";
    uint32_t vendorId = 0x00A0B0;
    uint64_t chipId = 1;
    uint32_t maxWidth = 640, maxHeight = 480;
    uint32_t width = 0, height = 0; // 0: the maximum
    uint32_t left = 0, top = 0;
    uint32_t unitWidth = 4, unitHeight = 2;
    uint32_t unitLeft = 0, unitTop = 0; // 0: the size unit
    uint32_t coding = Mono8;
    std::vector<uint32_t> codings; // empty: just `coding`
    uint32_t bitDepth = 0;         // 0: all bits of the sample
    uint32_t bayer = 0;
    std::vector<uint32_t> format7Modes{0};
    std::vector<FixedMode> fixedModes;
    double frameRate = 30.0; // 0: unlimited
    uint32_t maxBytesPerPacket = 4096;
    uint32_t packetIncrement = 4;
    uint32_t bytesPerPacket = 0; // 0: the maximum
    double temporalNoise = 0.0;
    double spatialNoise = 0.0;
    uint32_t seed = 1;
    int advancedFeatures = -1; // -1: when the vendor is "Quarlo"
    bool imageHeader = false;
    bool frameCounter = true;
    bool cycleTime = true;
    bool checkWord = false;
    uint64_t accessKey = DefaultAccessKey;
};

// Parses a description file's text. False with `error` ("line N: ...") and
// no cameras on any fault; a text without cameras is valid.
bool ParseDescription(const std::string& text, std::vector<CameraDescription>& cameras, std::string& error);

// The three cameras present without TAV_SIM1394.
std::vector<CameraDescription> DefaultCameras();

struct CameraStatistics {
    uint64_t framesExposed = 0;   // frame clock ticks while streaming
    uint64_t framesDelivered = 0; // buffers filled and completed with success
    uint64_t framesDropped = 0;   // ticks with no buffer queued
    uint64_t buffersFailed = 0;   // completed with an injected status
    uint64_t buffersCancelled = 0;
    uint64_t checkWordsCorrupted = 0; // frames delivered with a wrong check word
    uint32_t buffersQueued = 0; // waiting now
    bool streaming = false;
};

// The control side of the simulation. Camera ids are small integers handed
// out by AddCamera; a removed camera's id is not reused.
class Simulator {
public:
    static Simulator& Instance();

    // Adds a camera (present at once; an interface arrival is broadcast).
    int AddCamera(const CameraDescription& description);

    // Removes a camera: query remove to the windows registered for its
    // handles, then (unless one refused) the camera goes, its pending buffers
    // are aborted, and remove complete follows. With `query` false it goes
    // at once (surprise removal, remove complete only). False, after a
    // query-remove-failed broadcast, when a window refused, or for an
    // unknown id.
    bool RemoveCamera(int id, bool query = true);

    // Query remove followed by query-remove-failed: the camera stays.
    bool AbortRemoval(int id);

    // Removes every camera (query removes that are refused are ignored).
    void RemoveAllCameras();

    // Replaces all cameras by those of a description text; false with
    // `error` (and no camera of it) when the text is bad.
    bool LoadDescription(const std::string& text, std::string& error);

    std::vector<int> Cameras() const;
    std::string DevicePath(int id) const; // empty for an unknown id
    // The part between the first and the third '#' of the path.
    std::string DeviceName(int id) const;

    // The next `count` requests with I/O control code `code` (0: any) fail
    // with `error`.
    void FailRequests(int id, uint32_t code, uint32_t error, uint32_t count = 1);

    // The next `count` buffers the frame clock takes complete with `status`
    // instead of a frame (IncompleteFrameStatus, 995, ...).
    void FailBuffers(int id, uint32_t status, uint32_t count = 1);

    // The next `count` frames that carry a check word are delivered with a
    // wrong one (its low 16 bits inverted).
    void CorruptCheckWords(int id, uint32_t count = 1);

    // Format 7 frame rate; 0 makes the clock unlimited.
    void SetFrameRate(int id, double framesPerSecond);

    CameraStatistics Statistics(int id) const;

    // Waits until at least `count` buffers are queued at the camera; false
    // on time-out or for an unknown id.
    bool WaitForQueuedBuffers(int id, uint32_t count, int32_t milliseconds) const;

private:
    Simulator() = default;
};

// Registers the simulated driver with the platform layer. The first call
// also creates the cameras: from the file named by TAV_SIM1394 when it is
// set (none when the file is bad, with the reason on stderr), otherwise
// DefaultCameras(); and, when TAV_SIM1394_CONTROL names a file, follows
// that file (FollowControlFile). Later calls do nothing.
void Install();

// Runs one control line against the present cameras, N being a camera's
// 1-based position in Simulator::Cameras():
//   remove N            removal with query remove
//   surprise-remove N   removal without
//   fail-buffers N      the next buffer completes with IncompleteFrameStatus
// Empty on success, else why it failed.
std::string RunControlCommand(const std::string& line);

// Lets another process act on the cameras, for tests of a whole program: a
// thread that lives as long as the process follows `file` as it grows and
// runs each complete line, answering on stderr with "sim1394: ok K LINE" or
// "sim1394: failed K LINE: REASON" (K counting lines from 1).
void FollowControlFile(const std::string& file);

} // namespace Tav::Sim1394
