// The register sets of the GenICam device.
//
// Port 1024: the camera's address space. Accesses of 4 bytes are registers,
// values in host order (the transport's byte order is the library's
// business); other lengths read or write memory bytes as they are.
//
// Port 1025 (4-byte little-endian values unless noted; high address half 0):
//    0  r   description, NUL-terminated text
//    1  r   DeviceFirmwareVersion, NUL-terminated text
//    4  rw  Width               5  rw  Height
//    6  r   largest Width       7  r   largest Height
//    8  r   Width increment     9  r   Height increment
//   10  rw  OffsetX            11  rw  OffsetY
//   12  r   OffsetX increment  13  r   OffsetY increment
//   18  rw  pixel format as an image chunk pixel type (0, 2, 4, 5, 9)
//   32  rw  exposure time in microseconds
//   33  rw  gain in hundredths of the camera's unit (usually dB)
//   34  rw  frame rate in thousandths of frames per second
//   35  rw  PixelFormat as its GenICam (PFNC) code
//   36  r   payload bytes per frame
// Writes that change the frame size or format are refused during a grab.
#include "Device.h"

#include "DataBuffer/ImageChunk.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace Tav::Hal::Kv {

namespace {

const char* const sourceFile = "RegisterSets.cpp";

enum class Kind { Description, Text, Integer, Maximum, Increment, ColourCoding, PixelFormat, Exposure, Gain, FrameRate,
                  Payload };

struct CFeature {
    uint32_t address;
    Kind kind;
    const char* feature;
    bool writable;
    bool changesFrame;
};

const CFeature features[] = {
    {0, Kind::Description, nullptr, false, false},
    {1, Kind::Text, "DeviceFirmwareVersion", false, false},
    {4, Kind::Integer, "Width", true, true},
    {5, Kind::Integer, "Height", true, true},
    {6, Kind::Maximum, "Width", false, false},
    {7, Kind::Maximum, "Height", false, false},
    {8, Kind::Increment, "Width", false, false},
    {9, Kind::Increment, "Height", false, false},
    {10, Kind::Integer, "OffsetX", true, true},
    {11, Kind::Integer, "OffsetY", true, true},
    {12, Kind::Increment, "OffsetX", false, false},
    {13, Kind::Increment, "OffsetY", false, false},
    {18, Kind::ColourCoding, nullptr, true, true},
    {32, Kind::Exposure, nullptr, true, false},
    {33, Kind::Gain, nullptr, true, false},
    {34, Kind::FrameRate, nullptr, true, false},
    {35, Kind::PixelFormat, nullptr, true, true},
    {36, Kind::Payload, nullptr, false, false},
};

const CFeature& FindFeature(uint64_t address)
{
    const uint32_t index = uint32_t(address), high = uint32_t(address >> 32);
    if (high == 0) {
        for (const CFeature& feature : features)
            if (feature.address == index)
                return feature;
    }
    throw CException(ErrorNoRegister, __LINE__, sourceFile, index, high);
}

uint32_t Scaled(double value, double scale)
{
    const double scaled = std::round(value * scale);
    if (!(scaled > 0))
        return 0;
    return scaled >= 4294967295.0 ? UINT32_MAX : uint32_t(scaled);
}

// The camera's Bayer 8-bit format, for a write of pixel type Raw8.
uint32_t AvailableBayerFormat(ArvCamera* camera)
{
    guint count = 0;
    GError* error = nullptr;
    gint64* formats = arv_camera_dup_available_pixel_formats(camera, &count, &error);
    CheckCameraError(error, __LINE__, sourceFile);
    uint32_t found = 0;
    for (uint8_t pattern = 0; pattern < 4 && !found; ++pattern) {
        const uint32_t wanted = PixelFormatOf(PixelTypeRaw8, pattern);
        for (guint i = 0; i < count; ++i)
            if (uint32_t(formats[i]) == wanted)
                found = wanted;
    }
    g_free(formats);
    return found;
}

} // namespace

// ---- port 1024 ----------------------------------------------------------------

namespace {

// GigE Vision addresses registers in 32 bits, and Aravis' fake camera has a
// fixed memory that its own access does not bound: refuse what would be
// truncated or read past it instead of handing it on.
void CheckCameraAddress(ArvDevice* device, uint64_t address, uint32_t length, int line)
{
    uint64_t limit = UINT64_MAX;
    if (ARV_IS_GV_DEVICE(device))
        limit = 0x100000000ull;
    else if (ARV_IS_FAKE_DEVICE(device))
        limit = ARV_FAKE_CAMERA_MEMORY_SIZE;
    if (address >= limit || length > limit - address)
        throw CCommonException(0xCEF00008, line, sourceFile);
}

} // namespace

void CDevice::CCameraRegisterSet::Read(uint64_t address, void* buffer, uint32_t length)
{
    if (!buffer || length == 0)
        throw CCommonException(0xCEF00006, __LINE__, sourceFile);
    owner.ThrowIfLost(__LINE__);
    CheckCameraAddress(owner.arvDevice, address, length, __LINE__);
    std::lock_guard<std::recursive_mutex> control(owner.controlMutex);
    GError* error = nullptr;
    if (length == 4) {
        uint32_t value = 0;
        arv_device_read_register(owner.arvDevice, address, &value, &error);
        CheckCameraError(error, __LINE__, sourceFile);
        std::memcpy(buffer, &value, 4);
        return;
    }
    arv_device_read_memory(owner.arvDevice, address, length, buffer, &error);
    CheckCameraError(error, __LINE__, sourceFile);
}

void CDevice::CCameraRegisterSet::Write(uint64_t address, const void* buffer, uint32_t length)
{
    if (!buffer || length == 0)
        throw CCommonException(0xCEF00006, __LINE__, sourceFile);
    owner.ThrowIfLost(__LINE__);
    CheckCameraAddress(owner.arvDevice, address, length, __LINE__);
    if (length == 4) {
        uint32_t value;
        std::memcpy(&value, buffer, 4);
        std::lock_guard<std::recursive_mutex> control(owner.controlMutex);
        GError* error = nullptr;
        arv_device_write_register(owner.arvDevice, address, value, &error);
        CheckCameraError(error, __LINE__, sourceFile);
        return;
    }
    // Aravis takes a writable buffer; the request's data stay untouched.
    std::vector<unsigned char> data(static_cast<const unsigned char*>(buffer),
                                    static_cast<const unsigned char*>(buffer) + length);
    std::lock_guard<std::recursive_mutex> control(owner.controlMutex);
    GError* error = nullptr;
    arv_device_write_memory(owner.arvDevice, address, length, data.data(), &error);
    CheckCameraError(error, __LINE__, sourceFile);
}

// ---- port 1025 ----------------------------------------------------------------

void CDevice::CFeatureRegisterSet::Read(uint64_t address, void* buffer, uint32_t length)
{
    if (!buffer)
        throw CCommonException(0xCEF00006, __LINE__, sourceFile);
    const CFeature& feature = FindFeature(address);
    owner.ThrowIfLost(__LINE__);
    std::lock_guard<std::recursive_mutex> control(owner.controlMutex);
    ArvCamera* camera = owner.camera;
    GError* error = nullptr;

    if (feature.kind == Kind::Description || feature.kind == Kind::Text) {
        if (length == 0)
            throw CCommonException(0xCEF00006, __LINE__, sourceFile);
        std::string text = owner.description;
        if (feature.kind == Kind::Text) {
            const char* value = arv_device_get_string_feature_value(owner.arvDevice, feature.feature, &error);
            CheckCameraError(error, __LINE__, sourceFile);
            text = value ? value : "";
        }
        const size_t n = std::min<size_t>(text.size(), length - 1);
        std::memcpy(buffer, text.data(), n);
        static_cast<char*>(buffer)[n] = '\0';
        return;
    }
    if (length < 4)
        throw CCommonException(0xCEF00006, __LINE__, sourceFile);

    uint32_t value = 0;
    switch (feature.kind) {
    case Kind::Integer:
        value = uint32_t(arv_device_get_integer_feature_value(owner.arvDevice, feature.feature, &error));
        break;
    case Kind::Maximum: {
        gint64 minimum = 0, maximum = 0;
        arv_device_get_integer_feature_bounds(owner.arvDevice, feature.feature, &minimum, &maximum, &error);
        value = uint32_t(maximum);
        break;
    }
    case Kind::Increment:
        value = uint32_t(arv_device_get_integer_feature_increment(owner.arvDevice, feature.feature, &error));
        break;
    case Kind::ColourCoding: {
        const ArvPixelFormat format = arv_camera_get_pixel_format(camera, &error);
        CheckCameraError(error, __LINE__, sourceFile);
        CPixelLayout layout;
        if (!PixelLayoutOf(format, layout))
            throw CException(ErrorPixelFormat, __LINE__, sourceFile, "(colour coding)", unsigned(format));
        value = layout.pixelType;
        break;
    }
    case Kind::PixelFormat: value = uint32_t(arv_camera_get_pixel_format(camera, &error)); break;
    case Kind::Exposure: value = Scaled(arv_camera_get_exposure_time(camera, &error), 1.0); break;
    case Kind::Gain: value = Scaled(arv_camera_get_gain(camera, &error), 100.0); break;
    case Kind::FrameRate: value = Scaled(arv_camera_get_frame_rate(camera, &error), 1000.0); break;
    case Kind::Payload: value = arv_camera_get_payload(camera, &error); break;
    default: break;
    }
    CheckCameraError(error, __LINE__, sourceFile);
    std::memcpy(buffer, &value, 4);
}

void CDevice::CFeatureRegisterSet::Write(uint64_t address, const void* buffer, uint32_t length)
{
    if (!buffer)
        throw CCommonException(0xCEF00006, __LINE__, sourceFile);
    const CFeature& feature = FindFeature(address);
    if (!feature.writable)
        throw CException(ErrorReadOnly, __LINE__, sourceFile, uint32_t(address), uint32_t(address >> 32));
    if (length != 4)
        throw CCommonException(0xCEF00006, __LINE__, sourceFile);
    owner.ThrowIfLost(__LINE__);
    std::lock_guard<std::recursive_mutex> control(owner.controlMutex);
    if (feature.changesFrame && owner.grabbing)
        throw CException(ErrorBusy, __LINE__, sourceFile);
    uint32_t value;
    std::memcpy(&value, buffer, 4);
    ArvCamera* camera = owner.camera;
    GError* error = nullptr;
    switch (feature.kind) {
    case Kind::Integer: arv_device_set_integer_feature_value(owner.arvDevice, feature.feature, value, &error); break;
    case Kind::ColourCoding: {
        const uint32_t format = value == PixelTypeRaw8 ? AvailableBayerFormat(camera) : PixelFormatOf(uint8_t(value), 0);
        if (format == 0 || value > 0xFF)
            throw CException(ErrorPixelFormat, __LINE__, sourceFile, "(colour coding)", value);
        arv_camera_set_pixel_format(camera, format, &error);
        break;
    }
    case Kind::PixelFormat: arv_camera_set_pixel_format(camera, value, &error); break;
    case Kind::Exposure: arv_camera_set_exposure_time(camera, double(value), &error); break;
    case Kind::Gain: arv_camera_set_gain(camera, value / 100.0, &error); break;
    case Kind::FrameRate: arv_camera_set_frame_rate(camera, value / 1000.0, &error); break;
    default: break;
    }
    CheckCameraError(error, __LINE__, sourceFile);
}

} // namespace Tav::Hal::Kv
