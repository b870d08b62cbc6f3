#include "Common/Exception.h"
#include "Common/Jel/Exception.h"
#include "DataBuffer/Guid.h"
#include "DataBuffer/ImageChunk.h"
#include "DataBuffer/RtlHeapAllocator.h"
#include "JelTiff.h"
#include "TavTiff.h"

#include "support/TestPaths.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

using namespace Tav;

namespace {

template <typename F>
CException Caught(F f)
{
    try {
        f();
    } catch (const CException& e) {
        return e;
    }
    return CException();
}

// A Mono16 chunk of width x height samples, sample i = f(i).
template <typename F>
CChunkPtr<CImageChunk> MakeMono16(int width, int height, int bitDepth, F f)
{
    CChunkPtr<CImageChunk> chunk = CreateImageChunkBuffer(0, 0, width, height, GetDefaultAllocator(), PixelTypeMono16);
    chunk->bitDepth = static_cast<uint8_t>(bitDepth);
    int size = 0;
    auto* samples = static_cast<uint16_t*>(chunk.LockData(&size));
    for (int i = 0; i < width * height; ++i)
        samples[i] = static_cast<uint16_t>(f(i));
    chunk.UnlockData();
    return chunk;
}

std::vector<uint16_t> SamplesOf(const CSmartPointer<CChunkBuffer>& buffer, CImageChunk* header = nullptr)
{
    CChunkPtr<CImageChunk> chunk = buffer->FindChunk(GUID_ImageChunk);
    EXPECT_TRUE(chunk);
    if (header)
        *header = *chunk;
    int size = 0;
    auto* samples = static_cast<uint16_t*>(chunk.LockData(&size));
    std::vector<uint16_t> list(samples, samples + size / 2);
    chunk.UnlockData();
    return list;
}

// What the file holds, read with libtiff directly.
struct RawTiff {
    uint32_t depth = 0;
    std::vector<uint16_t> samples;
};

RawTiff ReadRaw(const std::string& file)
{
    RawTiff raw;
    TIFF* tiff = TIFFOpen(file.c_str(), "r");
    EXPECT_NE(tiff, nullptr);
    if (!tiff)
        return raw;
    uint32_t width = 0, height = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tiff, TIFFTAG_IMAGEDEPTH, &raw.depth);
    raw.samples.resize(size_t(width) * height);
    for (uint32_t y = 0; y < height; ++y)
        TIFFReadScanline(tiff, raw.samples.data() + y * width, y, 0);
    TIFFClose(tiff);
    return raw;
}

// A TIFF written with libtiff directly, with any sample layout.
void WriteTiff(const std::string& file, uint32_t width, uint32_t height, uint16_t samples, uint16_t bits,
               uint16_t photometric)
{
    TIFF* tiff = TIFFOpen(file.c_str(), "w");
    ASSERT_NE(tiff, nullptr);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, photometric);
    std::vector<unsigned char> line(size_t(width) * samples * bits / 8, 0x11);
    for (uint32_t y = 0; y < height; ++y)
        TIFFWriteScanline(tiff, line.data(), y, 0);
    TIFFClose(tiff);
}

std::string LibtiffPart(const std::string& text)
{
    size_t at = text.find("\nlibtiff says:\n");
    return at == std::string::npos ? std::string() : text.substr(at + 15);
}

class Tiff : public ::testing::Test {
protected:
    std::string dir = TavTest::MakeTempDirectory();
    std::string Path(const char* name) { return dir + "/" + name; }
};

} // namespace

TEST_F(Tiff, TwelveBitImagesAreStoredShiftedUpAndReadBackShiftedDown)
{
    const std::string file = Path("twelve.tif");
    auto chunk = MakeMono16(7, 5, 12, [](int i) { return (i * 117) & 0xFFF; });
    SaveChunkAsTiff(file.c_str(), chunk);

    RawTiff raw = ReadRaw(file);
    EXPECT_EQ(raw.depth, 12u);
    ASSERT_EQ(raw.samples.size(), 35u);
    for (int i = 0; i < 35; ++i)
        ASSERT_EQ(raw.samples[i], ((i * 117) & 0xFFF) << 4) << i;

    CImageChunk header{};
    CSmartPointer<CChunkBuffer> loaded = LoadTiffAsChunk(file.c_str());
    std::vector<uint16_t> samples = SamplesOf(loaded, &header);
    ASSERT_EQ(samples.size(), 35u);
    for (int i = 0; i < 35; ++i)
        ASSERT_EQ(samples[i], (i * 117) & 0xFFF) << i;
    EXPECT_EQ(header.width, 7);
    EXPECT_EQ(header.height, 5);
    EXPECT_EQ(header.pitch, 14);
    EXPECT_EQ(header.bitDepth, 12);
    EXPECT_EQ(header.pixelType, PixelTypeMono16);
    EXPECT_EQ(header.x, 0);
    EXPECT_EQ(header.y, 0);
    EXPECT_EQ(loaded->GetSize(), 35u * 2 + 48);
    EXPECT_TRUE(loaded->Validate(nullptr));
}

TEST_F(Tiff, UnstatedAndFullDepthsAreWrittenUnshifted)
{
    for (int depth : {0, 16}) {
        const std::string file = Path(depth ? "full.tif" : "unstated.tif");
        SaveChunkAsTiff(file.c_str(), MakeMono16(3, 2, depth, [](int i) { return 0xFFFF - i; }));
        RawTiff raw = ReadRaw(file);
        EXPECT_EQ(raw.depth, 16u) << depth;
        EXPECT_EQ(raw.samples, (std::vector<uint16_t>{0xFFFF, 0xFFFE, 0xFFFD, 0xFFFC, 0xFFFB, 0xFFFA}));
        CImageChunk header{};
        EXPECT_EQ(SamplesOf(LoadTiffAsChunk(file.c_str()), &header), raw.samples);
        EXPECT_EQ(header.bitDepth, 16);
    }
}

TEST_F(Tiff, PaddedAndBottomUpChunksAreWrittenTopLineFirst)
{
    // Two lines of 2 samples in 8-byte lines, bottom line first in memory.
    CChunkPtr<CImageChunk> chunk = CreateImageChunkBuffer(0, 0, 4, 2, GetDefaultAllocator(), PixelTypeMono16);
    int size = 0;
    auto* samples = static_cast<uint16_t*>(chunk.LockData(&size));
    const uint16_t memory[8] = {30, 40, 0, 0, 10, 20, 0, 0};
    std::memcpy(samples, memory, sizeof memory);
    chunk.UnlockData();
    chunk->width = 2;
    chunk->pitch = -8;
    const std::string file = Path("bottomup.tif");
    SaveChunkAsTiff(file.c_str(), chunk);
    EXPECT_EQ(ReadRaw(file).samples, (std::vector<uint16_t>{10, 20, 30, 40}));

    // A pitch whose lines run past the pixel data is refused.
    chunk->pitch = 24;
    EXPECT_EQ(Caught([&] { SaveChunkAsTiff(file.c_str(), chunk); }).GetCode(), 0xCEF00006u);
}

TEST_F(Tiff, SavingRefusesOtherPixelTypesAndReportsWriteFailures)
{
    CChunkPtr<CImageChunk> mono8 = CreateImageChunkBuffer(0, 0, 4, 4, GetDefaultAllocator(), PixelTypeMono8);
    CException notMono16 = Caught([&] { SaveChunkAsTiff(Path("x.tif").c_str(), mono8); });
    EXPECT_EQ(notMono16.GetCode(), 0xCFD10000u);
    EXPECT_EQ(notMono16.GetLine(), 28);
    EXPECT_EQ(notMono16.GetFile(), "TavTiff.cpp");

    const std::string file = dir + "/missing/x.tif";
    CException write = Caught([&] { SaveChunkAsTiff(file.c_str(), MakeMono16(2, 2, 10, [](int) { return 1; })); });
    EXPECT_EQ(write.GetCode(), 0xCFD10001u);
    EXPECT_EQ(write.GetLine(), 54);
    EXPECT_NE(write.GetDescription().find("Jel::JelTiff::Save() - Cannot write to TIFF:\n" + file + "\nlibtiff says:\n"),
              std::string::npos)
        << write.GetDescription();
    EXPECT_FALSE(LibtiffPart(write.GetDescription()).empty());

    // More significant bits than a sample holds.
    EXPECT_EQ(Caught([&] { SaveChunkAsTiff(Path("deep.tif").c_str(), MakeMono16(2, 2, 17, [](int) { return 1; })); })
                  .GetCode(),
              0xCFD10001u);
}

TEST_F(Tiff, ColourAndEightBitFilesAreRefused)
{
    const std::string rgb = Path("rgb.tif");
    WriteTiff(rgb, 4, 3, 3, 16, PHOTOMETRIC_RGB);
    uint32_t width, height, bits, depth;
    bool colour;
    try {
        Jel::JelTiff::LoadDimension(rgb.c_str(), width, height, bits, depth, colour);
        FAIL() << "RGB accepted";
    } catch (const Jel::Exception& e) {
        EXPECT_EQ(e.GetCode(), 0x80004005u);
        EXPECT_EQ(e.GetContext(), "Jel::JelTiff::LoadDimension() - Unsupported Pixelformat!");
    }
    CException refused = Caught([&] { LoadTiffAsChunk(rgb.c_str()); });
    EXPECT_EQ(refused.GetCode(), 0xCFD10002u);
    EXPECT_EQ(refused.GetLine(), 80);
    EXPECT_NE(refused.GetDescription().find("Jel::JelTiff::LoadDimension() - Unsupported Pixelformat!"),
              std::string::npos);

    const std::string grey8 = Path("grey8.tif");
    WriteTiff(grey8, 4, 3, 1, 8, PHOTOMETRIC_MINISBLACK);
    EXPECT_EQ(Caught([&] { LoadTiffAsChunk(grey8.c_str()); }).GetCode(), 0xCFD10002u);

    // A greyscale file from another writer, without tag 32997, counts all 16 bits.
    const std::string plain = Path("plain.tif");
    WriteTiff(plain, 2, 2, 1, 16, PHOTOMETRIC_MINISBLACK);
    CImageChunk header{};
    EXPECT_EQ(SamplesOf(LoadTiffAsChunk(plain.c_str()), &header), (std::vector<uint16_t>(4, 0x1111)));
    EXPECT_EQ(header.bitDepth, 16);
}

TEST_F(Tiff, MissingTruncatedAndOversizedFilesGiveErrors)
{
    const std::string missing = Path("missing.tif");
    CException open = Caught([&] { LoadTiffAsChunk(missing.c_str()); });
    EXPECT_EQ(open.GetCode(), 0xCFD10002u);
    EXPECT_NE(open.GetDescription().find("Jel::JelTiff::LoadDimension() - Cannot open TIFF:\n" + missing), std::string::npos);
    EXPECT_NE(LibtiffPart(open.GetDescription()).find("missing.tif"), std::string::npos) << open.GetDescription();

    // The pixel data cut short: the header still claims them.
    const std::string good = Path("good.tif");
    SaveChunkAsTiff(good.c_str(), MakeMono16(64, 64, 16, [](int i) { return i; }));
    std::ifstream in(good, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (size_t keep : {size_t(8), size_t(600), bytes.size() / 2}) {
        const std::string cut = Path("cut.tif");
        TavTest::WriteFile(cut, bytes.substr(0, keep));
        CException e = Caught([&] { LoadTiffAsChunk(cut.c_str()); });
        EXPECT_TRUE(e.GetCode() == 0xCFD10002u || e.GetCode() == 0xCFD10004u) << keep << " " << e.GetDescription();
    }

    // A few bytes claiming 60000 x 60000 uncompressed samples.
    const std::string huge = Path("huge.tif");
    WriteTiff(huge, 1, 1, 1, 16, PHOTOMETRIC_MINISBLACK);
    TIFF* tiff = TIFFOpen(huge.c_str(), "r+");
    ASSERT_NE(tiff, nullptr);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, 60000u);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, 60000u);
    TIFFRewriteDirectory(tiff);
    TIFFClose(tiff);
    CException oversized = Caught([&] { LoadTiffAsChunk(huge.c_str()); });
    EXPECT_EQ(oversized.GetCode(), 0xCFD10002u) << oversized.GetDescription();
}

TEST_F(Tiff, ConcurrentFailuresKeepTheirOwnLibtiffText)
{
    auto worker = [this](const std::string& name, int* wrong) {
        const std::string file = Path(name.c_str());
        for (int i = 0; i < 200; ++i) {
            CException e = Caught([&] { LoadTiffAsChunk(file.c_str()); });
            if (LibtiffPart(e.GetDescription()).find(name) == std::string::npos)
                ++*wrong;
        }
    };
    int wrongA = 0, wrongB = 0;
    std::thread a(worker, "first-missing.tif", &wrongA);
    std::thread b(worker, "second-missing.tif", &wrongB);
    a.join();
    b.join();
    EXPECT_EQ(wrongA, 0);
    EXPECT_EQ(wrongB, 0);
}
