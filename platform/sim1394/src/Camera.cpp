#include "Camera.h"

#include "Platform/SystemError.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cmath>
#include <cstring>

namespace Tav::Sim1394::Detail {

using namespace Tav::Platform;

namespace {

// I/O control codes of the driver.
enum : uint32_t {
    IoFormats = 0x80102004,
    IoModes = 0x80102008,
    IoRates = 0x8010200C,
    IoSetVideoMode = 0x80102010,
    IoGetVideoMode = 0x80102070,
    IoNodeId = 0x80102014,
    IoInfoText = 0x80102018,
    IoFormat7Inquiry = 0x8010201C,
    IoSetGeometry = 0x80102020,
    IoGetGeometry = 0x80102024,
    IoGetColorCoding = 0x80102028,
    IoSetColorCoding = 0x8010202C,
    IoPacketInquiry = 0x80102030,
    IoSetBytesPerPacket = 0x8010206C,
    IoShot = 0x8010203C,
    IoQueueBuffer = 0x80102041,
    IoAllocate = 0x80102064,
    IoFree = 0x8010206B,
    IoCancel = 0x80102093,
    IoReadQuadlet = 0x80103FC0,
    IoWriteQuadlet = 0x80103FC4,
};

constexpr uint64_t CommandRegisters = 0xFFFFF0F00000ull;
constexpr uint64_t Format7Registers = 0xFFFFF0F10000ull; // + 0x100 per mode
constexpr uint64_t InitialRegisterSpace = 0xFFFFF0000000ull;
constexpr uint64_t FeatureHeaderRegister = AccessControlRegister + 0x100;
constexpr uint64_t FeatureCheckWordRegister = AccessControlRegister + 0x104;
constexpr uint32_t MaxPacketsPerFrame = 4095;
constexpr double CyclesPerSecond = 8000.0;

constexpr uint32_t Bit(uint32_t i) { return 0x80000000u >> i; }

// Format 0 modes the generator can produce: geometry and coding.
struct FixedGeometry {
    uint32_t width, height, coding;
};
constexpr FixedGeometry format0[7] = {
    {0, 0, 0}, {320, 240, Yuv422}, {0, 0, 0}, {640, 480, Yuv422}, {640, 480, Rgb8}, {640, 480, Mono8}, {640, 480, Mono16},
};

uint32_t BitsPerSample(uint32_t coding)
{
    switch (coding) {
    case Mono8:
    case Raw8: return 8;
    case Yuv422: return 16; // per pixel
    case Rgb8: return 24;
    case Mono16:
    case Raw16: return 16;
    default: return 0;
    }
}

const uint8_t imageChunkGuid[16] = {0x88, 0x7C, 0xED, 0x94, 0x0F, 0x1C, 0xD8, 0x11,
                                    0x82, 0xE0, 0x00, 0x10, 0x5A, 0x5B, 0xAE, 0x55};
const uint8_t frameCounterGuid[16] = {0x44, 0xB8, 0x5D, 0x8C, 0x0F, 0x1C, 0xD8, 0x11,
                                      0x96, 0x5F, 0x00, 0x10, 0x5A, 0x5B, 0xAE, 0x55};
const uint8_t cycleTimeGuid[16] = {0x30, 0xD4, 0x4D, 0x99, 0x0F, 0x1C, 0xD8, 0x11,
                                   0x8F, 0x6B, 0x00, 0x10, 0x5A, 0x5B, 0xAE, 0x55};

void Put32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

void Put16(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void PutTrailer(uint8_t* p, const uint8_t guid[16], uint32_t length)
{
    std::memcpy(p, guid, 16);
    Put32(p + 16, length);
    Put32(p + 20, ~length);
}

uint32_t Word(const IoRequest& r, uint32_t index)
{
    uint32_t v;
    std::memcpy(&v, static_cast<const uint8_t*>(r.Input()) + 4 * index, 4);
    return v;
}

void PutWords(const IoRequest& r, std::initializer_list<uint32_t> words)
{
    auto* out = static_cast<uint8_t*>(r.Output());
    for (uint32_t w : words) {
        std::memcpy(out, &w, 4);
        out += 4;
    }
}

// The bus's cycle-time register: seconds (7 bits), cycles (13), offset (12).
uint32_t CycleTimeNow()
{
    static const auto epoch = std::chrono::steady_clock::now();
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - epoch).count();
    const uint64_t ticks = uint64_t(ns) * 3072 * 8000 / 1000000000; // 24.576 MHz
    const uint32_t offset = uint32_t(ticks % 3072);
    const uint32_t cycles = uint32_t((ticks / 3072) % 8000);
    const uint32_t seconds = uint32_t((ticks / 3072 / 8000) % 128);
    return seconds << 25 | cycles << 12 | offset;
}

std::string Sanitize(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_') ? c : '_';
    return out.empty() ? "_" : out;
}

} // namespace

uint16_t Crc16Xmodem(const uint8_t* data, size_t size)
{
    // Slicing by 8: t[k][b] is the remainder of byte b followed by k zero bytes.
    static const auto t = [] {
        std::array<std::array<uint16_t, 256>, 8> tables{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint16_t c = uint16_t(i << 8);
            for (int b = 0; b < 8; ++b)
                c = uint16_t((c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1);
            tables[0][i] = c;
        }
        for (int k = 1; k < 8; ++k)
            for (uint32_t i = 0; i < 256; ++i) {
                const uint16_t p = tables[k - 1][i];
                tables[k][i] = uint16_t((p << 8) ^ tables[0][p >> 8]);
            }
        return tables;
    }();
    uint16_t crc = 0;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        const uint8_t* d = data + i;
        crc = uint16_t(t[7][d[0] ^ (crc >> 8)] ^ t[6][d[1] ^ (crc & 0xFF)] ^ t[5][d[2]] ^ t[4][d[3]] ^ t[3][d[4]] ^
                       t[2][d[5]] ^ t[1][d[6]] ^ t[0][d[7]]);
    }
    for (; i < size; ++i)
        crc = uint16_t((crc << 8) ^ t[0][((crc >> 8) ^ data[i]) & 0xFF]);
    return crc;
}


// ---- frames ----------------------------------------------------------------

FrameGenerator::FrameGenerator(const CameraDescription& d)
    : sensorWidth(d.maxWidth), temporalSigma(d.temporalNoise), rng(d.seed * 2654435761u + 1)
{
    std::mt19937 engine(d.seed);
    std::normal_distribution<float> normal(0.0f, 1.0f);
    if (d.spatialNoise > 0) {
        spatial.resize(size_t(d.maxWidth) * d.maxHeight);
        for (float& s : spatial)
            s = float(d.spatialNoise) * normal(engine);
    }
    if (d.temporalNoise > 0) {
        gaussian.resize(1u << 16);
        for (float& g : gaussian)
            g = normal(engine);
    }
}

uint32_t FrameGenerator::Sample(double value, uint32_t x, uint32_t y, uint32_t maxValue)
{
    if (!spatial.empty())
        value += spatial[size_t(y) * sensorWidth + x];
    if (!gaussian.empty()) {
        rng ^= rng << 13;
        rng ^= rng >> 17;
        rng ^= rng << 5;
        value += temporalSigma * gaussian[rng & 0xFFFF];
    }
    value = std::floor(value + 0.5);
    if (value < 0)
        return 0;
    if (value > maxValue)
        return maxValue;
    return uint32_t(value);
}

void FrameGenerator::FillPixels(uint8_t* out, const FrameLayout& L, uint32_t frame)
{
    const uint32_t maxValue = (1u << L.bitDepth) - 1;
    const bool noise = !spatial.empty() || !gaussian.empty();
    const bool mono = L.coding == Mono8 || L.coding == Mono16;

    if (mono && !noise) {
        // A row is a slice of one gradient line: G depends on x + y + 4n only.
        const uint32_t bytes = L.bytesPerSample;
        line.resize(size_t(L.width + 256) * bytes);
        for (uint32_t k = 0; k < L.width + 256; ++k) {
            const uint32_t v = GradientValue(k, 0, 0, maxValue);
            if (bytes == 1)
                line[k] = uint8_t(v);
            else
                Put16(&line[size_t(k) * 2], v);
        }
        const size_t rowBytes = size_t(L.width) * bytes;
        for (uint32_t y = 0; y < L.height; ++y) {
            const uint32_t start = (L.left + L.top + y + 4u * frame) & 255u;
            std::memcpy(out + y * rowBytes, &line[size_t(start) * bytes], rowBytes);
        }
        return;
    }

    uint8_t* p = out;
    for (uint32_t y = 0; y < L.height; ++y) {
        const uint32_t sy = L.top + y;
        for (uint32_t x = 0; x < L.width; ++x) {
            const uint32_t sx = L.left + x;
            switch (L.coding) {
            case Mono8: *p++ = uint8_t(Sample(GradientValue(sx, sy, frame, 255), sx, sy, 255)); break;
            case Mono16:
                Put16(p, Sample(GradientValue(sx, sy, frame, maxValue), sx, sy, maxValue));
                p += 2;
                break;
            case Raw8:
                *p++ = uint8_t(Sample(ChannelValue(BayerChannel(L.bayer, x, y), sx, sy, frame, 255), sx, sy, 255));
                break;
            case Raw16:
                Put16(p, Sample(ChannelValue(BayerChannel(L.bayer, x, y), sx, sy, frame, maxValue), sx, sy, maxValue));
                p += 2;
                break;
            case Rgb8:
                for (int c = 0; c < 3; ++c)
                    *p++ = uint8_t(Sample(ChannelValue(c, sx, sy, frame, 255), sx, sy, 255));
                break;
            case Yuv422:
                // U Y0 V Y1 for each pair of pixels.
                if ((x & 1) == 0) {
                    p[0] = 128;
                    p[2] = 128;
                    p[1] = uint8_t(Sample(GradientValue(sx, sy, frame, 255), sx, sy, 255));
                } else {
                    p[3] = uint8_t(Sample(GradientValue(sx, sy, frame, 255), sx, sy, 255));
                    p += 4;
                }
                break;
            }
        }
        if (L.coding == Yuv422 && (L.width & 1))
            p += 4;
    }
}

void FrameGenerator::Fill(uint8_t* out, const FrameLayout& L, uint32_t frame, uint32_t cycleTime)
{
    FillPixels(out, L, frame);
    if (!L.header)
        return;
    uint8_t* h = out + L.pixelBytes;
    std::memset(h, 0, 24);
    Put32(h, ((BitsPerSample(L.coding) + 7) / 8) * L.width);
    h[7] = uint8_t(L.bitDepth);
    Put16(h + 8, L.left);
    Put16(h + 10, L.top);
    Put16(h + 12, L.height);
    Put16(h + 14, L.width);
    h[19] = uint8_t(L.coding);
    h[23] = uint8_t((L.coding == Raw8 || L.coding == Raw16) ? L.bayer : 0);
    PutTrailer(h + 24, imageChunkGuid, L.pixelBytes + 48);
    uint8_t* p = h + 48;
    if (L.frameCounter) {
        Put32(p, frame);
        PutTrailer(p + 4, frameCounterGuid, 28);
        p += 28;
    }
    if (L.cycleTime) {
        Put32(p, cycleTime);
        PutTrailer(p + 4, cycleTimeGuid, 28);
        p += 28;
    }
    if (L.checkWord)
        Put32(p, Crc16Xmodem(out, size_t(p - out)));
}

// ---- camera ----------------------------------------------------------------

Camera::Camera(int id, const CameraDescription& d)
    : id(id), description(d),
      advanced(d.advancedFeatures < 0 ? d.vendor == "Quarlo" : d.advancedFeatures != 0),
      frameRate(d.frameRate), headerOn(d.imageHeader), checkWordOn(d.checkWord),
      isoChannel(uint32_t(id) & 63), generator(d)
{
    char eui[24];
    std::snprintf(eui, sizeof eui, "%06X%010llX", d.vendorId & 0xFFFFFF,
                  static_cast<unsigned long long>(d.chipId & 0xFFFFFFFFFFull));
    path = "\\\\?\\1394#" + Sanitize(d.vendor) + "&" + Sanitize(d.model) + "#" + eui + "#" +
           GuidToString(InterfaceClass);
    for (uint32_t m = 0; m < 8; ++m) {
        Mode7& s = modes[m];
        s.width = d.width ? d.width : d.maxWidth;
        s.height = d.height ? d.height : d.maxHeight;
        s.left = d.left;
        s.top = d.top;
        s.coding = d.coding;
        s.bytesPerPacket = d.bytesPerPacket ? d.bytesPerPacket : d.maxBytesPerPacket;
    }
    if (d.format7Modes.empty() && !d.fixedModes.empty()) {
        format = 0;
        mode = d.fixedModes[0].mode;
        rate = d.fixedModes[0].rate;
    } else {
        format = 7;
        mode = d.format7Modes.empty() ? 0 : d.format7Modes[0];
    }
    // index, minimum, maximum, value, automatic
    const struct { int index; uint32_t minValue, maxValue, value; bool autoMode; } offered[] = {
        {0, 0, 255, 64, false},   // brightness
        {1, 0, 1023, 512, true},  // auto exposure
        {6, 0, 2, 1, false},      // gamma
        {7, 1, 4095, 500, false}, // shutter
        {8, 0, 680, 0, false},    // gain
        {12, 0, 0, 0, false},     // trigger mode
    };
    for (const auto& o : offered) {
        Feature& f = features[o.index];
        f.present = true;
        f.minValue = o.minValue;
        f.maxValue = o.maxValue;
        f.value = o.value;
        f.autoMode = o.autoMode;
    }
    clock = std::thread([this] { Clock(); });
}

Camera::~Camera()
{
    {
        std::lock_guard<std::mutex> guard(mutex);
        stop = true;
    }
    changed.notify_all();
    if (clock.joinable())
        clock.join();
}

bool Camera::Supports(uint32_t coding) const
{
    if (description.codings.empty())
        return coding == description.coding;
    return std::find(description.codings.begin(), description.codings.end(), coding) != description.codings.end();
}

bool Camera::HasMode7(uint32_t m) const
{
    return std::find(description.format7Modes.begin(), description.format7Modes.end(), m) !=
           description.format7Modes.end();
}

uint32_t Camera::FormatsMask() const
{
    uint32_t mask = 0;
    if (!description.format7Modes.empty())
        mask |= Bit(7);
    if (!description.fixedModes.empty())
        mask |= Bit(0);
    return mask;
}

uint32_t Camera::ModesMask(uint32_t f) const
{
    uint32_t mask = 0;
    if (f == 7)
        for (uint32_t m : description.format7Modes)
            mask |= Bit(m);
    if (f == 0)
        for (const FixedMode& m : description.fixedModes)
            mask |= Bit(m.mode);
    return mask;
}

uint32_t Camera::RatesMask(uint32_t f, uint32_t m) const
{
    uint32_t mask = 0;
    if (f == 0)
        for (const FixedMode& fm : description.fixedModes)
            if (fm.mode == m)
                mask |= Bit(fm.rate);
    return mask;
}

FrameLayout Camera::Layout7(const Mode7& m) const
{
    FrameLayout L;
    L.width = m.width;
    L.height = m.height;
    L.left = m.left;
    L.top = m.top;
    L.coding = m.coding;
    L.bytesPerSample = (m.coding == Mono16 || m.coding == Raw16) ? 2 : 1;
    L.bitDepth = L.bytesPerSample == 2 && description.bitDepth ? description.bitDepth : 8 * L.bytesPerSample;
    L.bayer = description.bayer;
    L.pixelBytes = uint32_t(uint64_t(m.width) * m.height * BitsPerSample(m.coding) / 8);
    L.header = advanced && headerOn;
    L.frameCounter = L.header && description.frameCounter;
    L.cycleTime = L.header && description.cycleTime;
    L.checkWord = L.header && checkWordOn;
    L.total = L.pixelBytes + (L.header ? 48 : 0) + (L.frameCounter ? 28 : 0) + (L.cycleTime ? 28 : 0) +
              (L.checkWord ? 4 : 0);
    return L;
}

FrameLayout Camera::Layout() const
{
    if (format == 7)
        return Layout7(modes[mode]);
    const FixedGeometry& g = format0[mode];
    Mode7 m;
    m.width = g.width;
    m.height = g.height;
    m.coding = g.coding;
    return Layout7(m);
}

uint32_t Camera::PacketsPerFrame(const Mode7& m) const
{
    const uint32_t total = Layout7(m).total;
    return m.bytesPerPacket ? (total + m.bytesPerPacket - 1) / m.bytesPerPacket : 0;
}

std::chrono::nanoseconds Camera::Period() const
{
    double seconds;
    if (format == 7) {
        if (frameRate <= 0)
            return std::chrono::nanoseconds(0);
        Mode7 m = modes[mode];
        if (resourceBytesPerPacket)
            m.bytesPerPacket = resourceBytesPerPacket;
        seconds = std::max(1.0 / frameRate, PacketsPerFrame(m) / CyclesPerSecond);
    } else {
        seconds = 1.0 / (1.875 * double(1u << rate));
    }
    seconds = std::min(seconds, 3600.0); // a frame an hour is as slow as it gets
    return std::chrono::nanoseconds(int64_t(seconds * 1e9));
}

// ---- requests --------------------------------------------------------------

void Camera::Dispatch(const void* file, const IoRequestPtr& request)
{
    std::unique_lock<std::mutex> lock(mutex);
    if (removed) {
        lock.unlock();
        request->Complete(ErrorDeviceNotConnected, 0);
        return;
    }
    for (RequestFault& f : requestFaults) {
        if (f.remaining && (f.code == 0 || f.code == request->Code())) {
            const uint32_t error = f.error;
            if (--f.remaining == 0)
                std::erase_if(requestFaults, [](const RequestFault& r) { return r.remaining == 0; });
            lock.unlock();
            request->Complete(error, 0);
            return;
        }
    }
    if (request->Code() == IoQueueBuffer) {
        uint32_t error = ErrorSuccess;
        if (!resourcesAllocated)
            error = ErrorNotReady;
        else if (!request->Output() || request->OutputSize() < Layout().total)
            error = ErrorInvalidParameter;
        else if (queue.size() >= resourceBuffers)
            error = ErrorBusy;
        if (error != ErrorSuccess) {
            lock.unlock();
            request->Complete(error, 0);
            return;
        }
        queue.push_back(Queued{request, file});
        lock.unlock();
        changed.notify_all();
        return;
    }
    if (request->Code() == IoCancel || request->Code() == IoFree) {
        std::vector<IoRequestPtr> aborted;
        TakeAll(aborted, nullptr, 0);
        if (request->Code() == IoFree) {
            resourcesAllocated = false;
            resourceBuffers = 0;
            resourceBytesPerPacket = 0;
            continuous = oneShotPending = false;
        }
        WaitIdle(lock);
        lock.unlock();
        for (auto& r : aborted)
            r->Complete(ErrorOperationAborted, 0);
        changed.notify_all();
        request->Complete(ErrorSuccess, 0);
        return;
    }
    uint32_t bytes = 0;
    const uint32_t status = Handle(*request, bytes);
    lock.unlock();
    changed.notify_all();
    request->Complete(status, bytes);
}

void Camera::TakeAll(std::vector<IoRequestPtr>& out, const void* file, uint64_t thread)
{
    for (auto it = queue.begin(); it != queue.end();) {
        if ((!file || it->file == file) && (!thread || it->request->Thread() == thread)) {
            out.push_back(std::move(it->request));
            it = queue.erase(it);
        } else {
            ++it;
        }
    }
    stats.buffersCancelled += out.size();
}

void Camera::WaitIdle(std::unique_lock<std::mutex>& lock)
{
    // The buffer being filled finishes before a cancel or close returns.
    changed.wait(lock, [this] { return !filling; });
}

void Camera::Cancel(const void* file, uint64_t thread)
{
    std::vector<IoRequestPtr> aborted;
    std::unique_lock<std::mutex> lock(mutex);
    TakeAll(aborted, file, thread);
    WaitIdle(lock);
    lock.unlock();
    for (auto& r : aborted)
        r->Complete(ErrorOperationAborted, 0);
    changed.notify_all();
}

void Camera::CloseFile(const void* file)
{
    Cancel(file, 0);
}

void Camera::Shutdown()
{
    std::vector<IoRequestPtr> aborted;
    {
        std::unique_lock<std::mutex> lock(mutex);
        removed = true;
        stop = true;
        TakeAll(aborted, nullptr, 0);
        continuous = oneShotPending = false;
        resourcesAllocated = false;
    }
    changed.notify_all();
    if (clock.joinable() && clock.get_id() != std::this_thread::get_id())
        clock.join();
    for (auto& r : aborted)
        r->Complete(ErrorOperationAborted, 0);
}

uint32_t Camera::Handle(const IoRequest& r, uint32_t& bytes)
{
    static const struct {
        uint32_t code, in, out;
    } sizes[] = {
        {IoFormats, 0, 4},        {IoModes, 4, 4},           {IoRates, 8, 4},          {IoSetVideoMode, 12, 0},
        {IoGetVideoMode, 0, 12},  {IoNodeId, 0, 8},          {IoInfoText, 4, 256},     {IoFormat7Inquiry, 4, 56},
        {IoSetGeometry, 24, 0},   {IoGetGeometry, 4, 16},    {IoGetColorCoding, 4, 4}, {IoSetColorCoding, 8, 0},
        {IoPacketInquiry, 4, 28}, {IoSetBytesPerPacket, 8, 0}, {IoShot, 8, 0},         {IoAllocate, 12, 12},
        {IoReadQuadlet, 8, 4},    {IoWriteQuadlet, 12, 0},
    };
    const auto* size = std::find_if(std::begin(sizes), std::end(sizes), [&](const auto& s) { return s.code == r.Code(); });
    if (size == std::end(sizes))
        return ErrorInvalidFunction;
    if (r.InputSize() < size->in || (size->in && !r.Input()))
        return ErrorInvalidParameter;
    if (r.OutputSize() < size->out || (size->out && !r.Output()))
        return ErrorInsufficientBuffer;
    bytes = size->out;

    auto format7Mode = [&](uint32_t m) { return m < 8 && HasMode7(m); };

    switch (r.Code()) {
    case IoFormats: PutWords(r, {FormatsMask()}); return ErrorSuccess;
    case IoModes:
        if (Word(r, 0) > 7)
            return ErrorInvalidParameter;
        PutWords(r, {ModesMask(Word(r, 0))});
        return ErrorSuccess;
    case IoRates:
        if (Word(r, 0) > 7 || Word(r, 1) > 7)
            return ErrorInvalidParameter;
        PutWords(r, {RatesMask(Word(r, 0), Word(r, 1))});
        return ErrorSuccess;
    case IoSetVideoMode: return SetVideoMode(Word(r, 0), Word(r, 1), Word(r, 2));
    case IoGetVideoMode: PutWords(r, {format, mode, rate}); return ErrorSuccess;
    case IoNodeId: {
        const uint64_t chip = description.chipId & 0xFFFFFFFFFFull;
        PutWords(r, {uint32_t(chip), (description.vendorId & 0xFFFFFF) << 8 | uint32_t(chip >> 32)});
        return ErrorSuccess;
    }
    case IoInfoText: {
        const uint32_t selector = Word(r, 0);
        if (selector > 2)
            return ErrorInvalidParameter;
        const std::string& text =
            selector == 0 ? description.vendor : selector == 1 ? description.model : description.firmware;
        auto* out = static_cast<char*>(r.Output());
        std::memset(out, 0, 256);
        std::memcpy(out, text.data(), std::min<size_t>(text.size(), 255));
        return ErrorSuccess;
    }
    case IoFormat7Inquiry: {
        const uint32_t m = Word(r, 0);
        if (!format7Mode(m))
            return ErrorInvalidParameter;
        uint32_t codings[8] = {};
        for (uint32_t c = 0; c < 256; ++c)
            if (Supports(c))
                codings[c / 32] |= Bit(c % 32);
        const CameraDescription& d = description;
        PutWords(r, {d.maxWidth, d.maxHeight, d.unitWidth, d.unitHeight, d.unitLeft, d.unitTop, codings[0], codings[1],
                     codings[2], codings[3], codings[4], codings[5], codings[6], codings[7]});
        return ErrorSuccess;
    }
    case IoSetGeometry: {
        const uint32_t m = Word(r, 0), mask = Word(r, 5);
        if (!format7Mode(m) || (mask & ~15u))
            return ErrorInvalidParameter;
        const Mode7& s = modes[m];
        return SetGeometry(m, (mask & 1) ? Word(r, 1) : s.left, (mask & 2) ? Word(r, 2) : s.top,
                           (mask & 4) ? Word(r, 3) : s.width, (mask & 8) ? Word(r, 4) : s.height);
    }
    case IoGetGeometry: {
        const uint32_t m = Word(r, 0);
        if (!format7Mode(m))
            return ErrorInvalidParameter;
        PutWords(r, {modes[m].left, modes[m].top, modes[m].width, modes[m].height});
        return ErrorSuccess;
    }
    case IoGetColorCoding:
        if (!format7Mode(Word(r, 0)))
            return ErrorInvalidParameter;
        PutWords(r, {modes[Word(r, 0)].coding});
        return ErrorSuccess;
    case IoSetColorCoding: return SetColorCoding(Word(r, 0), Word(r, 1));
    case IoPacketInquiry: {
        const uint32_t m = Word(r, 0);
        if (!format7Mode(m))
            return ErrorInvalidParameter;
        const Mode7& s = modes[m];
        PutWords(r, {Layout7(s).total, description.packetIncrement, description.maxBytesPerPacket, 0,
                     description.packetIncrement, s.bytesPerPacket, PacketsPerFrame(s)});
        return ErrorSuccess;
    }
    case IoSetBytesPerPacket: return SetBytesPerPacket(Word(r, 0), Word(r, 1));
    case IoShot: return Shot(Word(r, 0));
    case IoAllocate: {
        const uint32_t bytesPerPacket = Word(r, 0), count = Word(r, 1), bytesPerBuffer = Word(r, 2);
        const FrameLayout L = Layout();
        if (count == 0 || count > 64 || bytesPerBuffer < L.total || bytesPerPacket == 0 ||
            bytesPerPacket > description.maxBytesPerPacket ||
            (format == 7 && (L.total + bytesPerPacket - 1) / bytesPerPacket > MaxPacketsPerFrame))
            return ErrorInvalidParameter;
        // A new allocation replaces the earlier one.
        resourcesAllocated = true;
        resourceBuffers = count;
        resourceBytesPerPacket = format == 7 ? bytesPerPacket : 0;
        // Channel, buffers granted, bandwidth units (quadlets per cycle).
        PutWords(r, {isoChannel, count, (bytesPerPacket + 3) / 4});
        return ErrorSuccess;
    }
    case IoReadQuadlet: {
        uint32_t value = 0;
        const uint32_t status = ReadQuadlet(uint64_t(Word(r, 1)) << 32 | Word(r, 0), value);
        if (status == ErrorSuccess)
            PutWords(r, {value});
        else
            bytes = 0;
        return status;
    }
    case IoWriteQuadlet: return WriteQuadlet(uint64_t(Word(r, 1)) << 32 | Word(r, 0), Word(r, 2));
    }
    return ErrorInvalidFunction;
}

uint32_t Camera::SetVideoMode(uint32_t f, uint32_t m, uint32_t r)
{
    if (f > 7 || m > 7 || !(ModesMask(f) & Bit(m)))
        return ErrorInvalidParameter;
    if (f != 7 && (r > 7 || !(RatesMask(f, m) & Bit(r))))
        return ErrorInvalidParameter;
    if (SettingsLocked() && (f != format || m != mode || (f != 7 && r != rate)))
        return ErrorBusy;
    format = f;
    mode = m;
    if (f != 7)
        rate = r;
    return ErrorSuccess;
}

uint32_t Camera::SetGeometry(uint32_t m, uint32_t left, uint32_t top, uint32_t width, uint32_t height)
{
    const CameraDescription& d = description;
    const uint32_t unitLeft = d.unitLeft ? d.unitLeft : d.unitWidth;
    const uint32_t unitTop = d.unitTop ? d.unitTop : d.unitHeight;
    if (!HasMode7(m) || width == 0 || height == 0 || width % d.unitWidth || height % d.unitHeight ||
        left % unitLeft || top % unitTop || uint64_t(left) + width > d.maxWidth ||
        uint64_t(top) + height > d.maxHeight)
        return ErrorInvalidParameter;
    Mode7& s = modes[m];
    if (left == s.left && top == s.top && width == s.width && height == s.height)
        return ErrorSuccess;
    if (SettingsLocked() && format == 7 && mode == m)
        return ErrorBusy;
    s.left = left;
    s.top = top;
    s.width = width;
    s.height = height;
    return ErrorSuccess;
}

uint32_t Camera::SetColorCoding(uint32_t m, uint32_t coding)
{
    if (m > 7 || !HasMode7(m) || !Supports(coding))
        return ErrorInvalidParameter;
    if (coding != modes[m].coding && SettingsLocked() && format == 7 && mode == m)
        return ErrorBusy;
    modes[m].coding = coding;
    return ErrorSuccess;
}

uint32_t Camera::SetBytesPerPacket(uint32_t m, uint32_t bytes)
{
    const uint32_t inc = description.packetIncrement ? description.packetIncrement : 1;
    if (m > 7 || !HasMode7(m) || bytes == 0 || bytes > description.maxBytesPerPacket || bytes % inc)
        return ErrorInvalidParameter;
    if (bytes != modes[m].bytesPerPacket && SettingsLocked() && format == 7 && mode == m)
        return ErrorBusy;
    modes[m].bytesPerPacket = bytes;
    return ErrorSuccess;
}

uint32_t Camera::Shot(uint32_t command)
{
    switch (command) {
    case 0: continuous = false; return ErrorSuccess;
    case 1:
        if (!resourcesAllocated)
            return ErrorNotReady;
        continuous = true;
        return ErrorSuccess;
    case 2:
        if (!resourcesAllocated)
            return ErrorNotReady;
        oneShotPending = true;
        return ErrorSuccess;
    default: return ErrorInvalidParameter;
    }
}

// Inquiry word: presence, on/off, auto and manual capability, then the
// 12-bit minimum and maximum; the trigger offers mode 0 only and cannot be
// switched on, since the simulated clock has no trigger input.
uint32_t Camera::FeatureInquiry(const Feature& f, bool trigger)
{
    if (!f.present)
        return 0;
    if (trigger)
        return Bit(0) | Bit(16);
    return Bit(0) | Bit(5) | Bit(6) | Bit(7) | (f.minValue & 0xFFF) << 12 | (f.maxValue & 0xFFF);
}

uint32_t Camera::FeatureControl(const Feature& f, bool trigger)
{
    if (trigger)
        return Bit(0);
    return Bit(0) | (f.on ? Bit(6) : 0) | (f.autoMode ? Bit(7) : 0) | (f.value & 0xFFF);
}

uint32_t Camera::SetFeature(Feature& f, uint32_t value, bool trigger)
{
    if (!f.present)
        return ErrorCrc;
    if (trigger) {
        // Trigger mode 0, off: anything else is beyond this camera.
        return (value & (Bit(6) | 0x000F0000u)) ? ErrorInvalidParameter : ErrorSuccess;
    }
    const uint32_t v = value & 0xFFF;
    if (v < f.minValue || v > f.maxValue)
        return ErrorInvalidParameter;
    f.value = v;
    f.on = (value & Bit(6)) != 0;
    f.autoMode = (value & Bit(7)) != 0;
    return ErrorSuccess;
}

uint32_t Camera::ReadQuadlet(uint64_t address, uint32_t& value)
{
    address &= 0xFFFFFFFFFFFFull; // the node's own address space
    if (address & 3)
        return ErrorInvalidParameter;
    if (address >= CommandRegisters && address < CommandRegisters + 0x1000) {
        const uint64_t o = address - CommandRegisters;
        if (o == 0x000) { value = 0; return ErrorSuccess; }
        if (o == 0x100) { value = FormatsMask(); return ErrorSuccess; }
        if (o >= 0x180 && o < 0x1A0) { value = ModesMask(uint32_t(o - 0x180) / 4); return ErrorSuccess; }
        if (o >= 0x200 && o < 0x2E0) {
            const uint32_t i = uint32_t(o - 0x200) / 4;
            value = RatesMask(i / 8, i % 8);
            return ErrorSuccess;
        }
        if (o >= 0x2E0 && o < 0x300) {
            const uint32_t m = uint32_t(o - 0x2E0) / 4;
            value = HasMode7(m) ? uint32_t((Format7Registers + 0x100 * m - InitialRegisterSpace) / 4) : 0;
            return ErrorSuccess;
        }
        if (o == 0x400) { value = advanced ? Bit(0) : 0; return ErrorSuccess; }
        if (o == 0x404) {
            value = 0;
            for (uint32_t i = 0; i < 13; ++i)
                if (features[i].present)
                    value |= Bit(i);
            return ErrorSuccess;
        }
        if (o == 0x408) { value = 0; return ErrorSuccess; }
        if (o >= 0x500 && o < 0x534) {
            const Feature& f = features[(o - 0x500) / 4];
            value = FeatureInquiry(f, o == 0x530);
            return ErrorSuccess;
        }
        if (o >= 0x800 && o < 0x834) {
            const Feature& f = features[(o - 0x800) / 4];
            if (!f.present)
                return ErrorCrc;
            value = FeatureControl(f, o == 0x830);
            return ErrorSuccess;
        }
        if (o == 0x480 && advanced) {
            value = uint32_t((AccessControlRegister - InitialRegisterSpace) / 4);
            return ErrorSuccess;
        }
        if (o == 0x600) { value = rate << 29; return ErrorSuccess; }
        if (o == 0x604) { value = mode << 29; return ErrorSuccess; }
        if (o == 0x608) { value = format << 29; return ErrorSuccess; }
        if (o == 0x60C) { value = isoChannel << 28 | 2u << 24; return ErrorSuccess; }
        if (o == 0x614) { value = continuous ? Bit(0) : 0; return ErrorSuccess; }
        if (o == 0x61C) { value = oneShotPending ? Bit(0) : 0; return ErrorSuccess; }
        return ErrorCrc;
    }
    if (address >= Format7Registers && address < Format7Registers + 0x800) {
        const uint32_t m = uint32_t(address - Format7Registers) / 0x100;
        const uint32_t o = uint32_t(address - Format7Registers) % 0x100;
        if (!HasMode7(m))
            return ErrorCrc;
        const CameraDescription& d = description;
        const Mode7& s = modes[m];
        switch (o) {
        case 0x00: value = d.maxWidth << 16 | (d.maxHeight & 0xFFFF); return ErrorSuccess;
        case 0x04: value = d.unitWidth << 16 | (d.unitHeight & 0xFFFF); return ErrorSuccess;
        case 0x08: value = s.left << 16 | (s.top & 0xFFFF); return ErrorSuccess;
        case 0x0C: value = s.width << 16 | (s.height & 0xFFFF); return ErrorSuccess;
        case 0x10: value = s.coding << 24; return ErrorSuccess;
        case 0x14:
            value = 0;
            for (uint32_t c = 0; c < 32; ++c)
                if (Supports(c))
                    value |= Bit(c);
            return ErrorSuccess;
        case 0x34: value = s.width * s.height; return ErrorSuccess;
        case 0x38: value = 0; return ErrorSuccess;
        case 0x3C: value = Layout7(s).total; return ErrorSuccess;
        case 0x40: value = d.packetIncrement << 16 | (d.maxBytesPerPacket & 0xFFFF); return ErrorSuccess;
        case 0x44: value = s.bytesPerPacket << 16 | (d.maxBytesPerPacket & 0xFFFF); return ErrorSuccess;
        case 0x48: value = PacketsPerFrame(s); return ErrorSuccess;
        case 0x4C:
            value = (d.unitLeft ? d.unitLeft : d.unitWidth) << 16 | ((d.unitTop ? d.unitTop : d.unitHeight) & 0xFFFF);
            return ErrorSuccess;
        default: return ErrorCrc;
        }
    }
    if (advanced && address >= AccessControlRegister && address < AccessControlRegister + 0x200) {
        const uint64_t o = address - AccessControlRegister;
        const bool granted = keyHigh == uint32_t(description.accessKey >> 16) &&
                             keyLow == (uint32_t(description.accessKey & 0xFFFF) << 16 | 0xF000);
        if (o == 0x00 || o == 0x04) {
            value = granted ? (o == 0 ? keyHigh : keyLow) : 0xFFFFFFFFu;
            return ErrorSuccess;
        }
        if (o >= 0x10 && o < 0x20) {
            value = guidWords[(o - 0x10) / 4];
            return ErrorSuccess;
        }
        if (o == 0x20 || o == 0x24) {
            Guid g;
            std::memcpy(&g, guidWords, 16);
            uint64_t feature = 0;
            if (granted && g == ImageHeaderFeature)
                feature = FeatureHeaderRegister;
            else if (granted && g == CheckWordFeature)
                feature = FeatureCheckWordRegister;
            value = o == 0x20 ? uint32_t(feature) : uint32_t(feature >> 32);
            return ErrorSuccess;
        }
        if (address == FeatureHeaderRegister) {
            value = Bit(0) | (headerOn ? 1u : 0u);
            return ErrorSuccess;
        }
        if (address == FeatureCheckWordRegister) {
            value = Bit(0) | (checkWordOn && headerOn ? 1u : 0u);
            return ErrorSuccess;
        }
    }
    return ErrorCrc;
}

uint32_t Camera::WriteQuadlet(uint64_t address, uint32_t value)
{
    address &= 0xFFFFFFFFFFFFull;
    if (address & 3)
        return ErrorInvalidParameter;
    if (address >= CommandRegisters && address < CommandRegisters + 0x1000) {
        switch (address - CommandRegisters) {
        case 0x000:
            if (value & Bit(0)) {
                // INITIALIZE: back to the settings of the description.
                if (SettingsLocked())
                    return ErrorBusy;
                for (Mode7& s : modes) {
                    s.left = description.left;
                    s.top = description.top;
                    s.width = description.width ? description.width : description.maxWidth;
                    s.height = description.height ? description.height : description.maxHeight;
                    s.coding = description.coding;
                    s.bytesPerPacket = description.bytesPerPacket ? description.bytesPerPacket : description.maxBytesPerPacket;
                }
                headerOn = description.imageHeader;
                checkWordOn = description.checkWord;
            }
            return ErrorSuccess;
        case 0x600: return SetVideoMode(format, mode, value >> 29);
        case 0x604: return SetVideoMode(format, value >> 29, format == 7 ? 0 : rate);
        case 0x608: {
            const uint32_t f = value >> 29;
            const uint32_t modesOf = ModesMask(f);
            uint32_t m = 0;
            while (m < 8 && !(modesOf & Bit(m)))
                ++m;
            if (m == 8)
                return ErrorInvalidParameter;
            uint32_t r = 0;
            if (f != 7)
                while (r < 8 && !(RatesMask(f, m) & Bit(r)))
                    ++r;
            return SetVideoMode(f, m, r);
        }
        case 0x60C: isoChannel = (value >> 28) & 15; return ErrorSuccess;
        case 0x614: return Shot((value & Bit(0)) ? 1 : 0);
        case 0x800: case 0x804: case 0x818: case 0x81C: case 0x820: case 0x830:
            return SetFeature(features[(address - CommandRegisters - 0x800) / 4], value,
                              address - CommandRegisters == 0x830);
        case 0x61C: return (value & Bit(0)) ? Shot(2) : ErrorSuccess;
        default: return ErrorCrc;
        }
    }
    if (address >= Format7Registers && address < Format7Registers + 0x800) {
        const uint32_t m = uint32_t(address - Format7Registers) / 0x100;
        const uint32_t o = uint32_t(address - Format7Registers) % 0x100;
        if (!HasMode7(m))
            return ErrorCrc;
        const Mode7& s = modes[m];
        switch (o) {
        case 0x08: return SetGeometry(m, value >> 16, value & 0xFFFF, s.width, s.height);
        case 0x0C: return SetGeometry(m, s.left, s.top, value >> 16, value & 0xFFFF);
        case 0x10: return SetColorCoding(m, value >> 24);
        case 0x44: return SetBytesPerPacket(m, value >> 16);
        default: return ErrorCrc;
        }
    }
    if (advanced && address >= AccessControlRegister && address < AccessControlRegister + 0x200) {
        const uint64_t o = address - AccessControlRegister;
        if (o == 0x00) { keyHigh = value; return ErrorSuccess; }
        if (o == 0x04) { keyLow = value; return ErrorSuccess; }
        if (o >= 0x10 && o < 0x20) { guidWords[(o - 0x10) / 4] = value; return ErrorSuccess; }
        if (address == FeatureHeaderRegister || address == FeatureCheckWordRegister) {
            bool& on = address == FeatureHeaderRegister ? headerOn : checkWordOn;
            if (bool(value & 1) != on && SettingsLocked())
                return ErrorBusy; // the frame size would change under the allocated buffers
            on = value & 1;
            return ErrorSuccess;
        }
    }
    return ErrorCrc;
}

// ---- control ---------------------------------------------------------------

void Camera::FailRequests(uint32_t code, uint32_t error, uint32_t count)
{
    std::lock_guard<std::mutex> guard(mutex);
    if (count)
        requestFaults.push_back(RequestFault{code, error, count});
}

void Camera::FailBuffers(uint32_t status, uint32_t count)
{
    std::lock_guard<std::mutex> guard(mutex);
    bufferFaults.insert(bufferFaults.end(), count, status);
}

void Camera::CorruptCheckWords(uint32_t count)
{
    std::lock_guard<std::mutex> guard(mutex);
    checkWordFaults += count;
}

void Camera::SetFrameRate(double framesPerSecond)
{
    {
        std::lock_guard<std::mutex> guard(mutex);
        frameRate = framesPerSecond > 0 ? framesPerSecond : 0;
    }
    changed.notify_all();
}

CameraStatistics Camera::Statistics() const
{
    std::lock_guard<std::mutex> guard(mutex);
    CameraStatistics s = stats;
    s.buffersQueued = uint32_t(queue.size());
    s.streaming = Streaming();
    return s;
}

bool Camera::WaitForQueuedBuffers(uint32_t count, int32_t milliseconds) const
{
    std::unique_lock<std::mutex> lock(mutex);
    auto enough = [&] { return queue.size() >= count; };
    if (milliseconds < 0) {
        changed.wait(lock, [&] { return enough() || removed; });
        return enough();
    }
    return changed.wait_for(lock, std::chrono::milliseconds(milliseconds), enough);
}

// ---- frame clock -----------------------------------------------------------

void Camera::Clock()
{
    using Clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> lock(mutex);
    Clock::time_point due = Clock::now();
    bool wasStreaming = false;
    while (!stop) {
        if (!Streaming()) {
            wasStreaming = false;
            changed.wait(lock);
            continue;
        }
        const auto period = Period();
        const bool unlimited = period.count() == 0;
        if (!wasStreaming) {
            // The first frame comes one period after the stream starts.
            due = Clock::now() + period;
            wasStreaming = true;
        }
        if (unlimited) {
            if (queue.empty()) {
                changed.wait(lock);
                continue;
            }
        } else {
            const auto now = Clock::now();
            if (now < due) {
                changed.wait_until(lock, due);
                continue;
            }
            // A late clock does not try to catch up with frames it missed.
            due = std::max(due + period, now);
        }

        ++stats.framesExposed;
        const uint32_t frame = frameCounter++;
        oneShotPending = false;
        if (queue.empty()) {
            ++stats.framesDropped;
            continue;
        }
        IoRequestPtr request = std::move(queue.front().request);
        queue.pop_front();
        uint32_t fault = 0;
        if (!bufferFaults.empty()) {
            fault = bufferFaults.front();
            bufferFaults.pop_front();
        }
        const FrameLayout layout = Layout();
        const bool corrupt = !fault && layout.checkWord && checkWordFaults > 0;
        if (corrupt)
            --checkWordFaults;
        filling = true;
        lock.unlock();
        changed.notify_all();
        if (!fault) {
            auto* out = static_cast<uint8_t*>(request->Output());
            generator.Fill(out, layout, frame, CycleTimeNow());
            if (corrupt) {
                out[layout.total - 4] ^= 0xFF;
                out[layout.total - 3] ^= 0xFF;
            }
        }
        request->Complete(fault, fault ? 0 : layout.total);
        lock.lock();
        filling = false;
        if (fault)
            ++stats.buffersFailed;
        else
            ++stats.framesDelivered;
        if (corrupt)
            ++stats.checkWordsCorrupted;
        changed.notify_all();
    }
}

} // namespace Tav::Sim1394::Detail
