#include "Sim1394/Sim1394.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace Tav::Sim1394 {

namespace {

std::string Trim(const std::string& s)
{
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

std::string Lower(std::string s)
{
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::vector<std::string> Split(const std::string& s, char separator)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(s);
    while (std::getline(in, part, separator)) {
        part = Trim(part);
        if (!part.empty())
            parts.push_back(part);
    }
    return parts;
}

bool Unsigned(const std::string& text, uint64_t limit, uint64_t& value)
{
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno || *end || v > limit)
        return false;
    value = v;
    return true;
}

bool Real(const std::string& text, double& value)
{
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (errno || end == text.c_str() || *end || !(v >= 0) || v > 1e9)
        return false;
    value = v;
    return true;
}

bool Switch(const std::string& text, bool& value)
{
    const std::string t = Lower(text);
    if (t == "on" || t == "yes" || t == "true" || t == "1")
        value = true;
    else if (t == "off" || t == "no" || t == "false" || t == "0")
        value = false;
    else
        return false;
    return true;
}

bool CodingOf(const std::string& text, uint32_t& coding)
{
    static const struct {
        const char* name;
        uint32_t coding;
    } names[] = {{"mono8", Mono8}, {"yuv422", Yuv422}, {"rgb8", Rgb8},
                 {"mono16", Mono16}, {"raw8", Raw8},     {"raw16", Raw16}};
    const std::string t = Lower(text);
    for (const auto& n : names)
        if (t == n.name) {
            coding = n.coding;
            return true;
        }
    uint64_t v;
    if (!Unsigned(text, 255, v))
        return false;
    for (const auto& n : names)
        if (n.coding == v) {
            coding = uint32_t(v);
            return true;
        }
    return false;
}

// Empty when the camera is consistent, else the reason.
std::string Check(const CameraDescription& d)
{
    if (d.maxWidth == 0 || d.maxHeight == 0 || d.maxWidth > 65535 || d.maxHeight > 65535 ||
        uint64_t(d.maxWidth) * d.maxHeight > 16u * 1024 * 1024)
        return "sensor size out of range (at most 65535 each and 16 Mpixel)";
    if (d.unitWidth == 0 || d.unitHeight == 0)
        return "size unit must not be 0";
    const uint32_t unitLeft = d.unitLeft ? d.unitLeft : d.unitWidth;
    const uint32_t unitTop = d.unitTop ? d.unitTop : d.unitHeight;
    const uint32_t w = d.width ? d.width : d.maxWidth, h = d.height ? d.height : d.maxHeight;
    if (w % d.unitWidth || h % d.unitHeight)
        return "image size is not a multiple of the size unit";
    if (d.left % unitLeft || d.top % unitTop)
        return "image position is not a multiple of the position unit";
    if (uint64_t(d.left) + w > d.maxWidth || uint64_t(d.top) + h > d.maxHeight)
        return "image does not fit the sensor";
    if (!d.codings.empty() && std::find(d.codings.begin(), d.codings.end(), d.coding) == d.codings.end())
        return "coding is not among codings";
    if (d.bitDepth > 16)
        return "bit_depth must be 1 to 16";
    if (d.packetIncrement == 0 || d.maxBytesPerPacket == 0 || d.maxBytesPerPacket > 65535 ||
        d.maxBytesPerPacket % d.packetIncrement)
        return "max_bytes_per_packet must be a non-zero multiple of packet_increment, at most 65535";
    if (d.bytesPerPacket && (d.bytesPerPacket > d.maxBytesPerPacket || d.bytesPerPacket % d.packetIncrement))
        return "bytes_per_packet must be a multiple of packet_increment, at most max_bytes_per_packet";
    for (size_t i = 0; i < d.format7Modes.size(); ++i)
        if (d.format7Modes[i] > 7 || std::count(d.format7Modes.begin(), d.format7Modes.end(), d.format7Modes[i]) > 1)
            return "format7_modes must be distinct modes 0 to 7";
    for (const FixedMode& m : d.fixedModes)
        if (m.mode != 1 && (m.mode < 3 || m.mode > 6))
            return "fixed_modes: only Format 0 modes 1, 3, 4, 5 and 6 are simulated";
    if (d.format7Modes.empty() && d.fixedModes.empty())
        return "the camera offers no video mode";
    if (d.vendor.empty() || d.model.empty())
        return "vendor and model must not be empty";
    return {};
}

} // namespace

bool ParseDescription(const std::string& text, std::vector<CameraDescription>& cameras, std::string& error)
{
    std::vector<CameraDescription> parsed;
    std::istringstream in(text);
    std::string raw;
    int lineNumber = 0;
    int cameraLine = 0;
    auto fail = [&](int line, const std::string& why) {
        error = "line " + std::to_string(line) + ": " + why;
        return false;
    };
    auto finish = [&]() -> bool {
        if (parsed.empty())
            return true;
        std::string why = Check(parsed.back());
        return why.empty() ? true : fail(cameraLine, "camera: " + why);
    };

    while (std::getline(in, raw)) {
        ++lineNumber;
        std::string line = raw;
        const size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        line = Trim(line);
        if (line.empty())
            continue;
        if (Lower(line) == "[camera]") {
            if (!finish())
                return false;
            parsed.emplace_back();
            cameraLine = lineNumber;
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            return fail(lineNumber, "expected \"[camera]\" or \"key = value\"");
        if (parsed.empty())
            return fail(lineNumber, "property before the first \"[camera]\"");
        const std::string key = Lower(Trim(line.substr(0, eq)));
        const std::string value = Trim(line.substr(eq + 1));
        CameraDescription& c = parsed.back();
        uint64_t n = 0;
        bool ok = true;
        auto u32 = [&](uint32_t& field, uint64_t limit = 0xFFFFFFFFu) {
            ok = Unsigned(value, limit, n);
            if (ok)
                field = uint32_t(n);
        };
        if (key == "vendor") c.vendor = value;
        else if (key == "model") c.model = value;
        else if (key == "firmware") c.firmware = value;
        else if (key == "vendor_id") u32(c.vendorId, 0xFFFFFF);
        else if (key == "chip_id") { ok = Unsigned(value, 0xFFFFFFFFFFull, n); c.chipId = n; }
        else if (key == "max_width") u32(c.maxWidth);
        else if (key == "max_height") u32(c.maxHeight);
        else if (key == "width") u32(c.width);
        else if (key == "height") u32(c.height);
        else if (key == "left") u32(c.left);
        else if (key == "top") u32(c.top);
        else if (key == "unit_width") u32(c.unitWidth, 65535);
        else if (key == "unit_height") u32(c.unitHeight, 65535);
        else if (key == "unit_left") u32(c.unitLeft, 65535);
        else if (key == "unit_top") u32(c.unitTop, 65535);
        else if (key == "coding") ok = CodingOf(value, c.coding);
        else if (key == "codings") {
            c.codings.clear();
            for (const std::string& part : Split(value, ',')) {
                uint32_t coding;
                if (!(ok = CodingOf(part, coding)))
                    break;
                c.codings.push_back(coding);
            }
            ok = ok && !c.codings.empty();
        } else if (key == "bit_depth") { u32(c.bitDepth, 16); ok = ok && c.bitDepth > 0; }
        else if (key == "bayer") {
            static const char* patterns[] = {"rggb", "gbrg", "grbg", "bggr"};
            ok = false;
            for (uint32_t i = 0; i < 4; ++i)
                if (Lower(value) == patterns[i]) {
                    c.bayer = i;
                    ok = true;
                }
        } else if (key == "format7_modes") {
            c.format7Modes.clear();
            if (Lower(value) != "none")
                for (const std::string& part : Split(value, ',')) {
                    if (!(ok = Unsigned(part, 7, n)))
                        break;
                    c.format7Modes.push_back(uint32_t(n));
                }
        } else if (key == "fixed_modes") {
            c.fixedModes.clear();
            for (const std::string& part : Split(value, ',')) {
                const size_t slash = part.find('/');
                uint64_t mode, rate;
                ok = slash != std::string::npos && Unsigned(Trim(part.substr(0, slash)), 7, mode) &&
                     Unsigned(Trim(part.substr(slash + 1)), 7, rate);
                if (!ok)
                    break;
                c.fixedModes.push_back(FixedMode{uint32_t(mode), uint32_t(rate)});
            }
        } else if (key == "frame_rate") {
            if (Lower(value) == "unlimited")
                c.frameRate = 0;
            else
                ok = Real(value, c.frameRate) && c.frameRate > 0;
        } else if (key == "max_bytes_per_packet") u32(c.maxBytesPerPacket, 65535);
        else if (key == "packet_increment") u32(c.packetIncrement, 65535);
        else if (key == "bytes_per_packet") u32(c.bytesPerPacket, 65535);
        else if (key == "temporal_noise") ok = Real(value, c.temporalNoise);
        else if (key == "spatial_noise") ok = Real(value, c.spatialNoise);
        else if (key == "seed") u32(c.seed);
        else if (key == "advanced_features") {
            bool on;
            ok = Switch(value, on);
            c.advancedFeatures = on ? 1 : 0;
        } else if (key == "image_header") ok = Switch(value, c.imageHeader);
        else if (key == "frame_counter") ok = Switch(value, c.frameCounter);
        else if (key == "cycle_time") ok = Switch(value, c.cycleTime);
        else if (key == "check_word") ok = Switch(value, c.checkWord);
        else if (key == "access_key") { ok = Unsigned(value, 0xFFFFFFFFFFFFull, n); c.accessKey = n; }
        else
            return fail(lineNumber, "unknown key \"" + key + "\"");
        if (!ok)
            return fail(lineNumber, "bad value \"" + value + "\" for " + key);
    }
    if (!finish())
        return false;
    cameras = std::move(parsed);
    error.clear();
    return true;
}

int BayerChannel(uint32_t pattern, uint32_t x, uint32_t y)
{
    // Two letters of the first line, then two of the second.
    static const int layouts[4][4] = {{0, 1, 1, 2}, {1, 2, 0, 1}, {1, 0, 2, 1}, {2, 1, 1, 0}};
    return layouts[pattern & 3][(y & 1) * 2 + (x & 1)];
}

std::vector<CameraDescription> DefaultCameras()
{
    std::vector<CameraDescription> cameras(3);

    CameraDescription& mono = cameras[0];
    mono.vendor = "Quarlo";
    mono.model = "QX-640M";
    mono.firmware = "2.4.1";
    mono.vendorId = 0x00C0DE;
    mono.chipId = 100001;
    mono.coding = Mono8;
    mono.codings = {Mono8, Raw8};
    mono.fixedModes = {{5, 4}, {5, 5}};
    mono.frameRate = 60;
    mono.imageHeader = true;
    mono.checkWord = true;

    CameraDescription& colour = cameras[1];
    colour.vendor = "Brightline";
    colour.model = "BL-422C";
    colour.firmware = "1.07";
    colour.vendorId = 0x00B09D;
    colour.chipId = 5550123;
    colour.coding = Yuv422;
    colour.codings = {Yuv422, Mono8, Rgb8};
    colour.fixedModes = {{3, 3}, {4, 2}};
    colour.frameRate = 30;

    CameraDescription& hdr = cameras[2];
    hdr.vendor = "Quarlo";
    hdr.model = "QX-1024HDR";
    hdr.firmware = "2.4.1";
    hdr.vendorId = 0x00C0DE;
    hdr.chipId = 100002;
    hdr.maxWidth = 1024;
    hdr.maxHeight = 768;
    hdr.coding = Mono16;
    hdr.codings = {Mono16, Mono8};
    hdr.bitDepth = 12;
    hdr.frameRate = 30;
    hdr.maxBytesPerPacket = 8192; // S800: 30 frames/s need at least 6554 bytes per packet
    return cameras;
}

} // namespace Tav::Sim1394
