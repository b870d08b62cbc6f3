// The message catalogs against the insert signatures of their raise sites.
//
// The tables below are the record of every code the system raises: for each
// code, the kinds of the inserts that every one of its raise sites passes, in
// order. A raise site must pass exactly these (a 32-bit integer is an int or
// unsigned, never a long or size_t); a text that does not fit its inserts is
// shown unformatted. Add a code here and to its catalog together.

#include "Common/Exception.h"
#include "Common/Jel/JelException.h"
#include "Common/MessageInserts.h"
#include "Platform/MessageCatalog.h"
#include "Platform/ProcessInfo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using Tav::Detail::InsertKind;
using Tav::Platform::MessageCatalog;

namespace {

constexpr InsertKind I = InsertKind::Int32;
constexpr InsertKind S = InsertKind::String;

struct Entry {
    uint32_t code;
    std::vector<InsertKind> inserts;
};

// How a family formats its texts: framework exceptions keep an unfitting
// text unformatted; Jel-style ones use a found text as it is when no insert
// is given.
enum class Family { Framework, Jel };

struct Catalog {
    const char* resource;
    Family family;
    // Codes of the catalog satisfy (code & mask) == value for one of these.
    std::vector<std::pair<uint32_t, uint32_t>> ranges;
    std::vector<Entry> entries;
};

const Catalog commonCatalog{
    "TavCommonError.dll",
    Family::Framework,
    {{0xFFFF0000u, 0xCEF00000u}, {0xFFFF0000u, 0x00000000u}},
    {
        // Read-write lock: creating its mutex or events fails; the code is the system error.
        {0x00000008, {}},
        // Undeclared output port in Send; linker given a non-module; bad or unknown signal key
        // (thread base, decoupler, error viewer, statistics decoupler); decoupler, statistics
        // decoupler and HDR filter catching a non-framework exception; statistics working
        // image smaller than 1 pixel.
        {0xCEF00000, {}},
        // Free text, the whole message: launcher and XML helper failures, ShowErrorMessage,
        // Sapera descriptor ini file, device enumeration wrapping the driver client's message.
        {0xCEF00001, {S}},
        // Non-framework exception: decoupler stop/join, default allocator creation,
        // configurator exit and deinitialisation, statistics decoupler join, thread body.
        {0xCEF00002, {}},
        // Device controller initialised twice.
        {0xCEF00003, {}},
        // Unknown register-access direction or no register chunk (module base, device
        // controller, register port); null chunk pointer in LockData/UnlockData; unknown pixel
        // type in ImageChunkBitsPerPixel.
        {0xCEF00004, {}},
        // Chunk buffer attached twice; 1394 device finds no usable Format 7 mode or colour coding.
        {0xCEF00005, {}},
        // Register data area missing, not accessible or of the wrong length (module base,
        // device controller, 1394 register sets, statistics, register port); chunk buffer size
        // adjustment out of range; statistics decoupler saving without a Mono8 image.
        {0xCEF00006, {}},
        // Register address out of range or written while read-only: device controller,
        // image statistics, statistics decoupler, HDR filter.
        {0xCEF00008, {}},
        // 1394 device destructor: joining the pumper thread fails.
        {0xCEF00009, {}},
        // Memory exhausted anywhere (allocator, SafeNew, links, linker, signal tables,
        // 1394 device creation, Laplace converter buffers).
        {0xCEF0000A, {}},
        // Thread signal: event creation fails.
        {0xCEF00200, {}},
        // Thread signal: setting the event fails.
        {0xCEF00201, {}},
        // Thread signal or signal table: the wait fails.
        {0xCEF00202, {}},
        // WaitUntilStarted times out.
        {0xCEF00203, {}},
        // StartThread cannot create the thread.
        {0xCEF00204, {}},
    },
};

const Catalog coreCatalog{
    "TavCoreError.dll",
    Family::Framework,
    {{0xFFFF0000u, 0xCEF10000u}},
    {
        // Configurator Launch: the GUI class is not found.
        {0xCEF10000, {}},
        // Configurator Launch: "main" or "getInstance" missing, no string array, "main" threw, no instance.
        {0xCEF10001, {}},
        // Configurator Attach: method missing or it threw.
        {0xCEF10002, {}},
        // Configurator Detach: method missing or it threw.
        {0xCEF10003, {}},
        // Configurator Exit: method missing or it threw.
        {0xCEF10004, {}},
        // Configurator FetchWindow: AWT interface, drawing surface, lock or surface information.
        {0xCEF10005, {}},
        // Configurator Show: method missing or it threw.
        {0xCEF10006, {}},
        // Configurator Hide: method missing or it threw.
        {0xCEF10007, {}},
        // Configurator GetEnv: the thread cannot be attached to the VM.
        {0xCEF10008, {}},
        // Configurator OnNotification: "stateChanged" or "Refresh" missing or threw (reported only).
        {0xCEF10009, {}},
        // Configurator FetchWindow: the AWT library or JAWT_GetAWT is missing.
        {0xCEF1000A, {}},
        // Module AddOutputPort: the port is already declared. (module name, port)
        {0xCEF10100, {S, I}},
        // Module Connect: a link is already attached to the port. (module name, port)
        {0xCEF10101, {S, I}},
        // Module Connect: the port is not declared. (module name, port)
        {0xCEF10102, {S, I}},
        // OnData on a port the module does not serve: module base default, decoupler, error
        // viewer, device controller. (module name, port)
        {0xCEF10103, {S, I}},
        // HandleRegisterRequests: the packet has no register-access chunk.
        {0xCEF10104, {}},
        // Factory GetObject: nothing can be created for the name. (name)
        {0xCEF10200, {S}},
        // Factory Register: the name is taken. (name)
        {0xCEF10201, {S}},
        // Factory Register: the component is registered under another name.
        {0xCEF10202, {}},
        // Device controller: the device reported state 4 (failed or removed); reported only.
        {0xCEF10300, {}},
        // Device controller: a frame's check word does not match; reported only.
        {0xCEF10301, {}},
    },
};

const Catalog dataBufferCatalog{
    "TavDataBufferError.dll",
    Family::Framework,
    {{0xFFFF0000u, 0xCEF20000u}},
    {
        // Chunk chain walk (EnumChunks, Validate): length and complement differ.
        // (trailer offset from the buffer start, kind) as 32-bit integers; the offset is
        // negative for kind 7.
        {0xCEF20000, {I, I}},
        // Chunk chain walk: trailer beyond the buffer end. (offset, kind)
        {0xCEF20001, {I, I}},
        // Chunk chain walk: chunk length 0. (offset, kind)
        {0xCEF20002, {I, I}},
        // Chunk chain walk: the length wraps below address 0. (offset, kind)
        {0xCEF20003, {I, I}},
        // Chunk chain walk: the chunk begins before the buffer start. (offset, kind)
        {0xCEF20004, {I, I}},
        // Chunk chain walk: bytes left in front of the first chunk. (offset, kind)
        {0xCEF20005, {I, I}},
        // Chunk chain walk: any other failure kind. (offset, kind)
        {0xCEF20006, {I, I}},
        // EnumChunks: the buffer is smaller than one trailer.
        {0xCEF20007, {}},
        // CChunkPtr: the chunk is too short for its typed header: length, header size.
        {0xCEF20008, {I, I}},
        // ReadStringChunk: counts do not fit the chunk: length, string bytes, string count.
        {0xCEF20009, {I, I, I}},
    },
};

const Catalog tiffCatalog{
    "TavTiffError.dll",
    Family::Framework,
    {{0xFFFF0000u, 0xCFD10000u}},
    {
        // SaveChunkAsTiff: the chunk is not Mono16; LoadTiffAsChunk: the file is not greyscale.
        {0xCFD10000, {}},
        // SaveChunkAsTiff: JelTiff::Save failed. (the JelException's text)
        {0xCFD10001, {S}},
        // LoadTiffAsChunk: JelTiff::LoadDimension failed. (the JelException's text)
        {0xCFD10002, {S}},
        // LoadTiffAsChunk: bits per sample not a multiple of 8. (bits per sample)
        {0xCFD10003, {I}},
        // LoadTiffAsChunk: JelTiff::LoadImageData failed. (the JelException's text)
        {0xCFD10004, {S}},
    },
};

const Catalog rheaHalCatalog{
    "TavRheaHalError.dll",
    Family::Framework,
    {{0xFFFF0000u, 0xCEF30000u}},
    {
        // 1394 device wrapping a driver client error: Open, Close, StartGrab, StopGrab,
        // Recycle, the pumper loop, feature test, camera register access.
        // (the RheaException's message, its code)
        {0xCEF30000, {S, I}},
        // 1394 driver register set: the camera is not in Format 7. (format, mode)
        {0xCEF30001, {I, I}},
        // 1394 device used after removal: StartGrab, StopGrab, feature test, register sets.
        {0xCEF30002, {}},
        // 1394 driver register set: no register at that index, or register 15 written.
        // (index, high address half)
        {0xCEF30003, {I, I}},
        // 1394 driver register set: write to a read-only register. (index, high address half)
        {0xCEF30004, {I, I}},
        // 1394 feature probe register set: wrong address. (low address half, high address half)
        {0xCEF30005, {I, I}},
        // GenICam plug-in: the camera library's error. (its message, its code)
        {0xCEF30010, {S, I}},
        // GenICam plug-in: a pixel format no image chunk carries. (format name, PFNC code)
        {0xCEF30011, {S, I}},
        // GenICam plug-in: a grab or register access after close.
        {0xCEF30012, {}},
        // GenICam plug-in: a frame setting written during a grab.
        {0xCEF30013, {}},
        // Frame grabber stand-in: its configuration. (what is wrong)
        {0xCEF30020, {S}},
    },
};

const Catalog rheaCatalog{
    "RheaError.dll",
    Family::Jel,
    {{0xFFFF0000u, 0xCFF00000u}, {0xFFFF0000u, 0xCFE00000u}},
    {
        // Driver status for a buffer that was not filled completely; reaches a
        // RheaException when it comes with anything but a buffer completion.
        {0xCFE00021, {}},
        // CRhea::Open: the notification window does not come up; registering for device
        // notifications fails.
        {0xCFF00001, {}},
        // CRhea::RegisterClient while a device is open.
        {0xCFF00002, {}},
        // CRhea::UnregisterClient while a device is open.
        {0xCFF00003, {}},
        // CRhea::Transmit and Cancel without an open device.
        {0xCFF00004, {}},
        // RheaUtility::BytePerPacket: the result or the rate is out of range.
        {0xCFF00006, {}},
        // Format 7 accessor index outside 0-7; BytePerPacket with an undefined format or mode.
        {0xCFF00007, {}},
        // RheaUtility::BitsPerPixel: unknown colour coding.
        {0xCFF00008, {}},
        // Format 7 ColorCoding read: value out of range.
        {0xCFF0000D, {}},
        // CRhea::Open of the name that is already open.
        {0xCFF00016, {}},
    },
};

const Catalog jelCatalog{
    "JelError.dll",
    Family::Jel,
    {{0xFFFF0000u, 0x80000000u}},
    {
        // CDibPtr dereferenced empty; DSLoadDIBSectionFromBMPFile without a bitmap output.
        {0x80004003, {}},
        // CDib operations on an empty bitmap or failing to build one; every JelTiff failure
        // (the failing step and libtiff's text are the context).
        {0x80004005, {}},
    },
};

const std::vector<const Catalog*>& AllCatalogs()
{
    static const std::vector<const Catalog*> all{&commonCatalog, &coreCatalog,    &dataBufferCatalog, &tiffCatalog,
                                                 &rheaHalCatalog, &rheaCatalog, &jelCatalog};
    return all;
}

std::string CodeText(uint32_t code)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", code);
    return text;
}

std::string CatalogFileName(const char* resource)
{
    std::string name(resource);
    return name.substr(0, name.rfind('.')) + ".msg";
}

std::shared_ptr<const MessageCatalog> LoadCatalog(const Catalog& catalog)
{
    auto loaded = MessageCatalog::Load(catalog.resource);
    EXPECT_NE(loaded, nullptr) << catalog.resource << " is not in the runtime directory";
    return loaded;
}

// Lines that carry a message, so that a code given twice (the later line
// silently wins) is noticed.
int MessageLines(const std::string& path)
{
    std::ifstream in(path);
    int count = 0;
    for (std::string line; std::getline(in, line);) {
        size_t start = line.find_first_not_of(" \t\r");
        if (start != std::string::npos && line[start] != '#')
            ++count;
    }
    return count;
}

const char sampleText[] = "sample-insert";
const int sampleFirst = 4242;  // 0x1092
const int sampleSecond = 77;   // 0x4D
const int sampleThird = 9191;  // 0x23E7
const int sampleNumbers[] = {sampleFirst, sampleSecond, sampleThird};

// The text for `entry` formatted with sample inserts of its kinds, the way
// its exception family does it.
std::string FormatWithSamples(const Catalog& catalog, const Entry& entry)
{
    const InsertKind* kinds = entry.inserts.data();
    const size_t count = entry.inserts.size();
    auto format = [&](auto... args) {
        return catalog.family == Family::Framework
                   ? Tav::Detail::LoadCheckedMessage(catalog.resource, entry.code, kinds, count, args...)
                   : Jel::LookUpMessage(catalog.resource, entry.code, kinds, count, args...);
    };
    const std::vector<InsertKind>& k = entry.inserts;
    if (k.empty())
        return format();
    if (k == std::vector<InsertKind>{S})
        return format(sampleText);
    if (k == std::vector<InsertKind>{I})
        return format(sampleFirst);
    if (k == std::vector<InsertKind>{S, I})
        return format(sampleText, sampleFirst);
    if (k == std::vector<InsertKind>{I, I})
        return format(sampleFirst, sampleSecond);
    if (k == std::vector<InsertKind>{I, I, I})
        return format(sampleFirst, sampleSecond, sampleThird);
    ADD_FAILURE() << CodeText(entry.code) << ": teach FormatWithSamples this insert signature";
    return std::string();
}

bool ShowsNumber(const std::string& text, int value)
{
    char decimal[16], lower[16], upper[16];
    std::snprintf(decimal, sizeof decimal, "%d", value);
    std::snprintf(lower, sizeof lower, "%x", value);
    std::snprintf(upper, sizeof upper, "%X", value);
    return text.find(decimal) != std::string::npos || text.find(lower) != std::string::npos ||
           text.find(upper) != std::string::npos;
}

struct RheaHalErrorResourceName {
    static const char* GetName() { return "TavRheaHalError.dll"; }
};

} // namespace

TEST(Catalog, EveryCatalogFileInTheRuntimeDirectoryIsKnownAndWellFormed)
{
    std::set<std::string> known;
    for (const Catalog* catalog : AllCatalogs())
        known.insert(CatalogFileName(catalog->resource));

    std::set<std::string> found;
    for (const auto& item : std::filesystem::directory_iterator(Tav::Platform::ExecutableDirectory())) {
        if (item.path().extension() != ".msg")
            continue;
        const std::string name = item.path().filename().string();
        found.insert(name);
        EXPECT_TRUE(known.count(name)) << name << " has no table in this test";

        std::ifstream in(item.path(), std::ios::binary);
        std::ostringstream content;
        content << in.rdbuf();
        auto parsed = MessageCatalog::Parse(content.str());
        ASSERT_NE(parsed, nullptr);
        EXPECT_EQ(parsed->MalformedLines(), 0) << name;
        EXPECT_EQ(static_cast<int>(parsed->Size()), MessageLines(item.path().string()))
            << name << " gives a code twice";
    }
    for (const std::string& name : known)
        EXPECT_TRUE(found.count(name)) << name << " is missing from " << Tav::Platform::ExecutableDirectory();
}

TEST(Catalog, TablesAreConsistent)
{
    for (const Catalog* catalog : AllCatalogs()) {
        std::set<uint32_t> codes;
        for (const Entry& entry : catalog->entries) {
            EXPECT_TRUE(codes.insert(entry.code).second) << catalog->resource << ": " << CodeText(entry.code)
                                                         << " listed twice";
            bool inRange = std::any_of(catalog->ranges.begin(), catalog->ranges.end(),
                                       [&](const auto& r) { return (entry.code & r.first) == r.second; });
            EXPECT_TRUE(inRange) << CodeText(entry.code) << " does not belong to " << catalog->resource;
        }
    }
}

TEST(Catalog, EveryListedCodeHasATextThatTakesItsInserts)
{
    for (const Catalog* catalog : AllCatalogs()) {
        auto loaded = LoadCatalog(*catalog);
        if (!loaded)
            continue;
        for (const Entry& entry : catalog->entries) {
            const std::string* text = loaded->Find(entry.code);
            if (!text) {
                ADD_FAILURE() << catalog->resource << " lacks " << CodeText(entry.code);
                continue;
            }
            EXPECT_FALSE(text->empty()) << CodeText(entry.code);
            EXPECT_TRUE(Tav::Detail::FormatAccepts(text->c_str(), entry.inserts.data(), entry.inserts.size()))
                << CodeText(entry.code) << " \"" << *text << "\" does not fit its inserts";
            // Texts without inserts are shown as they stand by some families.
            if (entry.inserts.empty()) {
                EXPECT_EQ(text->find('%'), std::string::npos) << CodeText(entry.code) << " \"" << *text << "\"";
            }
            EXPECT_EQ(text->find('\n'), std::string::npos) << CodeText(entry.code) << " is one line";
        }
    }
}

TEST(Catalog, NoCatalogHoldsAnUnlistedCode)
{
    for (const Catalog* catalog : AllCatalogs()) {
        auto loaded = LoadCatalog(*catalog);
        if (!loaded)
            continue;
        std::set<uint32_t> listed;
        for (const Entry& entry : catalog->entries)
            listed.insert(entry.code);
        for (const auto& [code, text] : loaded->Messages())
            EXPECT_TRUE(listed.count(code)) << catalog->resource << " holds " << CodeText(code) << " (\"" << text
                                            << "\") that has no entry here";
    }
}

TEST(Catalog, EveryTextFormatsWithItsInsertsAndShowsThem)
{
    for (const Catalog* catalog : AllCatalogs()) {
        auto loaded = LoadCatalog(*catalog);
        if (!loaded)
            continue;
        for (const Entry& entry : catalog->entries) {
            const std::string* text = loaded->Find(entry.code);
            if (!text)
                continue;
            const std::string formatted = FormatWithSamples(*catalog, entry);
            SCOPED_TRACE(CodeText(entry.code) + " -> " + formatted);
            EXPECT_FALSE(formatted.empty());
            EXPECT_NE(formatted, "<unable to format message>");
            EXPECT_NE(formatted, "<no message found>");
            if (entry.inserts.empty()) {
                EXPECT_EQ(formatted, *text);
                continue;
            }
            EXPECT_NE(formatted, *text) << "left unformatted";
            int numbers = 0;
            for (InsertKind kind : entry.inserts) {
                if (kind == S)
                    EXPECT_NE(formatted.find(sampleText), std::string::npos);
                else
                    EXPECT_TRUE(ShowsNumber(formatted, sampleNumbers[numbers++]));
            }
        }
    }
}

TEST(Catalog, RealExceptionsCarryTheFormattedTexts)
{
    Tav::CCommonException freeText(0xCEF00001, 84, "StaticErrorView.cpp", "hello");
    EXPECT_EQ(freeText.GetDescription(), "hello");

    Tav::CDataBufferException chain(0xCEF20000, 128, "ChunkBuffer.cpp", 1000, 2);
    EXPECT_NE(chain.GetDescription().find("offset 1000"), std::string::npos) << chain.GetDescription();
    EXPECT_NE(chain.GetDescription().find("kind 2"), std::string::npos) << chain.GetDescription();

    // Leading bytes give a negative trailer offset, shown as such.
    Tav::CDataBufferException leading(0xCEF20005, 128, "ChunkBuffer.cpp", -8, 7);
    EXPECT_NE(leading.GetDescription().find("-8"), std::string::npos) << leading.GetDescription();

    Tav::CCoreException port(0xCEF10103, 128, "ModuleBase.cpp", "ImageViewer", 2);
    EXPECT_NE(port.GetDescription().find("'ImageViewer'"), std::string::npos) << port.GetDescription();
    EXPECT_NE(port.GetDescription().find("port 2"), std::string::npos) << port.GetDescription();

    Tav::CCoreException kind(0xCEF10200, 47, "FactoryBase.cpp", "Configurator");
    EXPECT_NE(kind.GetDescription().find("'Configurator'"), std::string::npos) << kind.GetDescription();

    Tav::CTiffException bits(0xCFD10003, 88, "TavTiff.cpp", 12);
    EXPECT_NE(bits.GetDescription().find("12 bits"), std::string::npos) << bits.GetDescription();

    // The read-write lock raises the system error itself with the system's wording.
    Tav::CCommonException memory(8, 26, "RWLock.cpp");
    EXPECT_EQ(memory.GetDescription(), "Not enough storage is available to process this command.");

    Tav::CExceptionDerivation<RheaHalErrorResourceName> driver(0xCEF30000, 197, "RheaHal.cpp", "No camera is open.",
                                                              0xCFF00004u);
    EXPECT_NE(driver.GetDescription().find("No camera is open."), std::string::npos) << driver.GetDescription();
    EXPECT_NE(driver.GetDescription().find("0xCFF00004"), std::string::npos) << driver.GetDescription();

    Tav::CExceptionDerivation<RheaHalErrorResourceName> notFormat7(0xCEF30001, 1, "RheaHal.cpp", 0u, 3u);
    EXPECT_NE(notFormat7.GetDescription().find("format 0, mode 3"), std::string::npos) << notFormat7.GetDescription();
}

TEST(Catalog, JelStyleExceptionsFindTheirTexts)
{
    Jel::JelException empty(0x80004003, "CDibPtr::operator->");
    EXPECT_EQ(empty.GetCode(), 0x80004003u);
    EXPECT_EQ(empty.GetContext(), "CDibPtr::operator->");
    EXPECT_EQ(empty.GetMessage(), *MessageCatalog::Load("JelError.dll")->Find(0x80004003));

    // The driver client's own codes come from its catalog, Win32 errors from the system.
    EXPECT_EQ(Jel::LookUpMessageWith("RheaError.dll", 0xCFF00007u), "Mode not defined");
    EXPECT_EQ(Jel::LookUpMessageWith("RheaError.dll", 0xCFF00016u), "The camera is already open.");
    EXPECT_EQ(Jel::LookUpMessageWith("RheaError.dll", 2u), "The system cannot find the file specified.\n");
    // A stray insert for a text that takes none is refused rather than misread.
    EXPECT_EQ(Jel::LookUpMessageWith("RheaError.dll", 0xCFF00001u, 1400), "<unable to format message>");
}
