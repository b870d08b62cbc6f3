#include "Dib.h"
#include "DibSection.h"
#include "ImageConversion.h"

#include "Common/Jel/JelException.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

using namespace Jel;

namespace {

std::vector<uint8_t> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

uint32_t U32(const std::vector<uint8_t>& b, size_t at)
{
    uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

// The picture's pixel (x, y) of an 8- or 24-bit DIB as bytes.
uint8_t* PixelAt(CDib& dib, int x, int y)
{
    auto [w, h] = dib.GetSize();
    int row = dib.IsTopDown() ? y : h - 1 - y;
    return dib.GetPixels() + size_t(dib.GetBytesPerLine()) * row + x * dib.GetBitsPerPixel() / 8;
}

template <class F>
void ExpectJel(F&& f, uint32_t code, const char* context)
{
    try {
        f();
        ADD_FAILURE() << "no exception, expected " << context;
    } catch (const Jel::Exception& e) {
        EXPECT_EQ(e.GetCode(), code);
        EXPECT_EQ(e.GetContext(), context);
    }
}

// Header, pixel data and an image-chunk view of them for the conversions.
struct Picture {
    Tav::CImageChunk header{};
    std::vector<uint8_t> data;
    Picture(int type, int width, int height, int pitch, std::vector<uint8_t> bytes) : data(std::move(bytes))
    {
        header.pixelType = uint8_t(type);
        header.width = uint16_t(width);
        header.height = uint16_t(height);
        header.pitch = pitch;
    }
    bool Convert(CDibPtr& dib) const { return ConvertImageChunk(header, data.data(), data.size(), dib); }
};

} // namespace

TEST(Dib, EmptyBitmapAndPointer)
{
    CDibPtr dib = CDib::Create(4, 4, 8, false, 1);
    dib->Destroy();
    EXPECT_EQ(dib->GetSize(), std::make_pair(0, 0));
    ExpectJel([&] { dib->GetBitsPerPixel(); }, 6, "CDib::GetBitsPerPixel");
    ExpectJel([&] { dib->GetBytesPerLine(); }, 6, "CDib::GetSize");
    ExpectJel([&] { dib->GetCopy(); }, 0x80004005, "CDib::GetCopy - No bitmap present");
    ExpectJel([&] { dib->Clone(true); }, 0x80004005, "CDib::Clone - No bitmap present");
    ExpectJel([&] { dib->CopyToClipboard(); }, 0x80004005, "CDib::CopyToClipboard - No bitmap present");
    CDibPtr none;
    ExpectJel([&] { none->GetSize(); }, 0x80004003, "CDibPtr::operator->");
    ExpectJel([] { CDib::Create(0, 4, 8, false, 0); }, 0x80004005, "CDib::Create");
    ExpectJel([] { CDib::Create(4, 4, 7, false, 0); }, 0x80004005, "CDib::Create");
}

TEST(Dib, SectionsColourTablesAndSizes)
{
    HBITMAP four = DSCreateDIBSection(3, 2, 4, false);
    ASSERT_EQ(four->Colors().size(), 16u);
    EXPECT_EQ(four->Header().biClrUsed, 16u);
    EXPECT_EQ(four->Colors()[1].blue, 128);
    EXPECT_EQ(four->Colors()[1].red, 0);
    EXPECT_EQ(four->Colors()[7].green, 192);
    HBITMAP mono = DSCreateDIBSection(33, 1, 1, false);
    EXPECT_EQ(mono->BytesPerLine(), 8u);
    EXPECT_EQ(mono->Header().biClrUsed, 0u);
    HBITMAP palette = DSCreateDIBSection(5, -3, 8, false);
    EXPECT_TRUE(palette->IsTopDown());
    EXPECT_EQ(palette->BytesPerLine(), 8u);
    const RgbQuad& c = palette->Colors()[73];
    EXPECT_EQ(c.red, 32);
    EXPECT_EQ(c.green, 32);
    EXPECT_EQ(c.blue, 64);
    HBITMAP wide = DSCreateDIBSection(2, 2, 32, false);
    EXPECT_EQ(wide->Header().biCompression, BiBitFields);
    EXPECT_EQ(wide->Masks()[0], 0xFF0000u);
    EXPECT_EQ(GetDibInfo(*wide).size(), 1076u);
    EXPECT_EQ(GetDibInfo(*palette).size(), 1064u);
    // Top-down headers carry a negative height; sizes use its magnitude.
    EXPECT_EQ(DibImageBytes(palette->Header()), 24u);
}

TEST(Dib, CopiesAndToppledCopies)
{
    CDibPtr dib = CDib::Create(3, 2, 8, true, 1);
    uint8_t* p = dib->GetPixels();
    p[0] = 1;
    p[4] = 2;
    CDibPtr same = dib->Clone(false);
    EXPECT_TRUE(same->IsTopDown());
    EXPECT_EQ(same->GetPixels()[4], 2);
    CDibPtr toppled = dib->Clone(true);
    EXPECT_FALSE(toppled->IsTopDown());
    EXPECT_EQ(toppled->GetPaletteType(), 1);
    EXPECT_EQ(toppled->GetPixels()[0], 2);
    EXPECT_EQ(toppled->GetPixels()[4], 1);
    // The picture is the same in both orientations.
    EXPECT_EQ(*PixelAt(*toppled, 0, 0), 1);
}

TEST(Dib, TopDownGreySavedBottomUpAndReadBack)
{
    const std::string path = TavTest::MakeTempDirectory() + "/grey.bmp";
    CDibPtr dib = CDib::Create(5, 3, 8, true, 1);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            dib->GetPixels()[y * dib->GetBytesPerLine() + x] = uint8_t(10 * y + x);
    dib->SaveBMP(path);
    std::vector<uint8_t> file = ReadAll(path);
    ASSERT_EQ(file.size(), 1078u + 8 * 3);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(U32(file, 2), file.size());
    EXPECT_EQ(U32(file, 10), 1078u);
    EXPECT_EQ(int32_t(U32(file, 22)), 3); // written bottom-up
    EXPECT_EQ(U32(file, 46), 256u);
    EXPECT_EQ(file[54 + 4 * 200], 200); // grey palette
    EXPECT_EQ(file[1078], 20);          // first stored row: the bottom line

    CDibPtr loaded = CDib::LoadBMP(path);
    EXPECT_FALSE(loaded->IsTopDown());
    EXPECT_EQ(loaded->GetPaletteType(), 1);
    EXPECT_EQ(loaded->GetSize(), std::make_pair(5, 3));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(*PixelAt(*loaded, x, y), 10 * y + x);
}

TEST(Dib, TrueColourCarriesThe332Table)
{
    const std::string path = TavTest::MakeTempDirectory() + "/rgb.bmp";
    CDibPtr dib = CDib::Create(2, 2, 24, false, 0);
    uint8_t* p = PixelAt(*dib, 1, 0);
    p[0] = 1, p[1] = 2, p[2] = 3;
    dib->SaveBMP(path);
    std::vector<uint8_t> file = ReadAll(path);
    ASSERT_EQ(file.size(), 14u + 40 + 1024 + 8 * 2);
    EXPECT_EQ(U32(file, 10), 1078u);
    EXPECT_EQ(U32(file, 46), 256u);
    const uint8_t* entry = &file[54 + 4 * 73];
    EXPECT_EQ(entry[0], 64); // blue
    EXPECT_EQ(entry[1], 32); // green
    EXPECT_EQ(entry[2], 32); // red

    CDibPtr loaded = CDib::LoadBMP(path);
    EXPECT_EQ(loaded->GetBitsPerPixel(), 24);
    EXPECT_EQ(loaded->GetPaletteType(), 0);
    const uint8_t* q = PixelAt(*loaded, 1, 0);
    EXPECT_EQ(q[0] + q[1] * 256 + q[2] * 65536, 1 + 2 * 256 + 3 * 65536);

    std::vector<uint8_t> packed = PackDib(*dib->GetSection());
    EXPECT_EQ(packed.size(), 40u + 1024 + 16);
}

TEST(Dib, SaveFailureIsReported)
{
    CDibPtr dib = CDib::Create(2, 2, 8, false, 1);
    const std::string path = TavTest::MakeTempDirectory() + "/missing/x.bmp";
    EXPECT_THROW(dib->SaveBMP(path), JelException);
    EXPECT_FALSE(WriteBMP(path, *dib->GetSection()));
}

namespace {

// A BMP file image: 40-byte header, optional masks and colour table.
std::vector<uint8_t> MakeBmp(int width, int height, int bits, uint32_t compression, const std::vector<uint32_t>& extra,
                             const std::vector<uint8_t>& pixels, uint32_t colorsUsed = 0)
{
    std::vector<uint8_t> f(54);
    f[0] = 'B', f[1] = 'M';
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&f[at], &v, 4); };
    put32(14, 40);
    put32(18, uint32_t(width));
    put32(22, uint32_t(height));
    f[26] = 1;
    f[28] = uint8_t(bits);
    put32(30, compression);
    put32(46, colorsUsed);
    for (uint32_t v : extra) {
        size_t at = f.size();
        f.resize(at + 4);
        put32(at, v);
    }
    put32(10, uint32_t(f.size()));
    f.insert(f.end(), pixels.begin(), pixels.end());
    put32(2, uint32_t(f.size()));
    return f;
}

HBITMAP Load(const std::vector<uint8_t>& f, Palette* palette = nullptr)
{
    HBITMAP bitmap;
    DSLoadDIBSectionFromBMPMemory(f.data(), f.size(), &bitmap, palette);
    return bitmap;
}

} // namespace

TEST(BmpReader, ReadsIndexedAndBitFieldFiles)
{
    // 1 bit, 3 x 2, bottom-up, colour table white then black.
    std::vector<uint8_t> mono = MakeBmp(3, 2, 1, BiRgb, {0xFFFFFF, 0x000000}, {0xA0, 0, 0, 0, 0x40, 0, 0, 0});
    Palette palette;
    HBITMAP m = Load(mono, &palette);
    EXPECT_EQ(m->BitCount(), 1);
    ASSERT_EQ(palette.size(), 2u);
    EXPECT_EQ(palette[0].red, 255);
    EXPECT_EQ(m->Pixels()[4], 0x40);

    // 4 bits with 3 colours used.
    std::vector<uint8_t> four = MakeBmp(2, 1, 4, BiRgb, {1, 2, 3}, {0x21, 0, 0, 0}, 3);
    HBITMAP f = Load(four, &palette);
    EXPECT_EQ(palette.size(), 3u);
    EXPECT_EQ(f->Pixels()[0], 0x21);

    // 32 bits, top-down, masks in an unusual order: red in the low byte.
    std::vector<uint8_t> px = {0x11, 0x22, 0x33, 0, 0x44, 0x55, 0x66, 0};
    std::vector<uint8_t> bf = MakeBmp(1, -2, 32, BiBitFields, {0xFF, 0xFF00, 0xFF0000}, px);
    HBITMAP b = Load(bf, &palette);
    EXPECT_FALSE(b->IsTopDown());
    EXPECT_EQ(palette.size(), 256u); // the 3-3-2 palette
    uint32_t bottom, top;
    std::memcpy(&bottom, b->Pixels(), 4);
    std::memcpy(&top, b->Pixels() + 4, 4);
    EXPECT_EQ(top, 0x112233u);    // first file row is the top line
    EXPECT_EQ(bottom, 0x445566u);

    // 16 bits 5-6-5 become 5-5-5; full scale stays full scale.
    std::vector<uint8_t> p16 = {0xFF, 0xFF, 0x1F, 0x00};
    HBITMAP s = Load(MakeBmp(1, 1, 16, BiBitFields, {0xF800, 0x07E0, 0x001F}, p16));
    uint16_t v;
    std::memcpy(&v, s->Pixels(), 2);
    EXPECT_EQ(v, 0x7FFF);
}

TEST(BmpReader, RefusesMalformedFiles)
{
    const uint32_t fail = 0x80004005;
    const char* ctx = "DSLoadDIBSectionFromBMPFile";
    std::vector<uint8_t> good = MakeBmp(2, 2, 24, BiRgb, {}, std::vector<uint8_t>(16, 7));
    EXPECT_NO_THROW(Load(good));
    auto refused = [&](std::vector<uint8_t> f) { ExpectJel([&] { Load(f); }, fail, ctx); };

    refused(std::vector<uint8_t>(good.begin(), good.end() - 1)); // pixels cut short
    refused(std::vector<uint8_t>(good.begin(), good.begin() + 30));
    auto bad = good;
    bad[0] = 'X';
    refused(bad);
    bad = good;
    bad[10] = 0xF0; // pixel offset past the end
    refused(bad);
    bad = good;
    bad[18] = 0, bad[19] = 0, bad[20] = 0, bad[21] = 0x40; // enormous width
    refused(bad);
    bad = good;
    bad[22] = 0, bad[23] = 0, bad[24] = 0, bad[25] = 0x80; // height INT_MIN
    refused(bad);
    bad = good;
    bad[28] = 12; // bit count
    refused(bad);
    bad = good;
    bad[30] = 1; // RLE
    refused(bad);
    bad = good;
    bad[14] = 0xFF; // header larger than the file
    refused(bad);
    refused(MakeBmp(2, 1, 8, BiRgb, {}, {1, 2, 0, 0}, 300));                      // too many colours
    refused(MakeBmp(1, 1, 32, BiBitFields, {0xF0F, 0xF000, 0xFF0000}, {0, 0, 0, 0})); // split mask
    refused(MakeBmp(1, 1, 32, BiBitFields, {0xFF, 0xFF, 0xFF0000}, {0, 0, 0, 0}));    // overlap
    refused(MakeBmp(1, 1, 24, BiBitFields, {0xFF, 0xFF00, 0xFF0000}, {0, 0, 0, 0}));

    ExpectJel([&] { DSLoadDIBSectionFromBMPMemory(good.data(), good.size(), nullptr, nullptr); }, 0x80004003, ctx);
    HBITMAP out;
    ExpectJel([&] { DSLoadDIBSectionFromBMPFile("/nonexistent/file.bmp", &out, nullptr); }, 2, ctx);
    ExpectJel([] { CDib::LoadBMP("/nonexistent/file.bmp"); }, fail, "CDib::LoadBMP");
}

TEST(Conversion, Mono8CopiedWholeOrLineByLine)
{
    std::vector<uint8_t> bytes(8 * 3);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i);
    Picture whole(Tav::PixelTypeMono8, 8, 3, 8, bytes);
    CDibPtr dib;
    ASSERT_TRUE(whole.Convert(dib));
    EXPECT_TRUE(dib->IsTopDown());
    EXPECT_EQ(dib->GetPaletteType(), 1);
    EXPECT_EQ(std::memcmp(dib->GetPixels(), bytes.data(), bytes.size()), 0);
    // The same geometry reuses the bitmap.
    CDib* first = dib.Get();
    ASSERT_TRUE(whole.Convert(dib));
    EXPECT_EQ(dib.Get(), first);

    // Width 5 in lines of 6; a negative pitch gives a bottom-up bitmap.
    Picture padded(Tav::PixelTypeMono8, 5, 3, -6, bytes);
    ASSERT_TRUE(padded.Convert(dib));
    EXPECT_NE(dib.Get(), first);
    EXPECT_FALSE(dib->IsTopDown());
    EXPECT_EQ(dib->GetPixels()[8 + 4], 10);
    EXPECT_EQ(dib->GetPixels()[8 + 5], 0); // padding not copied
    EXPECT_EQ(*PixelAt(*dib, 0, 2), 0);    // first line in memory is the bottom

    // Too little data for the stated geometry.
    Picture shortData(Tav::PixelTypeMono8, 8, 4, 8, bytes);
    ExpectJel([&] { shortData.Convert(dib); }, 0x80004005, "ConvertImageChunk");
}

TEST(Conversion, Rgb8BytesAsTheyCome)
{
    Picture rgb(Tav::PixelTypeRgb8, 2, 1, 6, {1, 2, 3, 4, 5, 6});
    CDibPtr dib;
    ASSERT_TRUE(rgb.Convert(dib));
    EXPECT_EQ(dib->GetBitsPerPixel(), 24);
    EXPECT_EQ(std::memcmp(dib->GetPixels(), rgb.data.data(), 6), 0);
}

TEST(Conversion, Yuv422OddWidthEndsInBlack)
{
    // Width 5: lines of 10 bytes, two whole pairs and a lone U, Y.
    std::vector<uint8_t> line = {150, 100, 100, 100, 128, 16, 128, 235, 0, 0};
    std::vector<uint8_t> bytes = line;
    bytes.insert(bytes.end(), 10, 128);
    Picture yuv(Tav::PixelTypeYuv422, 5, 2, 10, bytes);
    CDibPtr dib;
    ASSERT_TRUE(yuv.Convert(dib));
    EXPECT_FALSE(dib->IsTopDown());
    // c = 84, d = 22, e = -28: blue 142, green 112, red 53.
    const uint8_t* p = PixelAt(*dib, 0, 0);
    EXPECT_EQ(p[0], 142);
    EXPECT_EQ(p[1], 112);
    EXPECT_EQ(p[2], 53);
    EXPECT_EQ(std::memcmp(PixelAt(*dib, 1, 0), p, 3), 0);
    const uint8_t* black = PixelAt(*dib, 2, 0);
    EXPECT_EQ(black[0] + black[1] + black[2], 0);
    const uint8_t* white = PixelAt(*dib, 3, 0);
    EXPECT_EQ(white[0] + white[1] + white[2], 3 * 255);
    const uint8_t* last = PixelAt(*dib, 4, 0);
    EXPECT_EQ(last[0] + last[1] + last[2], 0);
    // The second source line (all 128) is the picture's second line.
    const uint8_t* grey = PixelAt(*dib, 0, 1);
    EXPECT_EQ(grey[0], (298 * 112 + 128) >> 8);
}

TEST(Conversion, Raw8DemosaicsBlocks)
{
    // 2 x 2 RGGB: one pixel, then a black last row and column.
    Picture tiny(Tav::PixelTypeRaw8, 2, 2, 2, {10, 20, 40, 70});
    tiny.header.filterPattern = Tav::FilterPatternRggb;
    CDibPtr dib;
    ASSERT_TRUE(tiny.Convert(dib));
    const uint8_t* p = PixelAt(*dib, 0, 0);
    EXPECT_EQ(p[0], 70); // blue
    EXPECT_EQ(p[1], 30); // (20 + 40) >> 1
    EXPECT_EQ(p[2], 10); // red
    for (auto [x, y] : {std::pair{1, 0}, {0, 1}, {1, 1}}) {
        const uint8_t* b = PixelAt(*dib, x, y);
        EXPECT_EQ(b[0] + b[1] + b[2], 0) << x << "," << y;
    }

    // 4 x 3 BGGR: the block at (1, 0) is G B / R G, the one at (0, 1) G R / B G.
    std::vector<uint8_t> s = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    Picture bggr(Tav::PixelTypeRaw8, 4, 3, 4, s);
    bggr.header.filterPattern = Tav::FilterPatternBggr;
    ASSERT_TRUE(bggr.Convert(dib));
    p = PixelAt(*dib, 1, 0);
    EXPECT_EQ(p[0], 3);             // blue at (2, 0)
    EXPECT_EQ(p[2], 6);             // red at (1, 1)
    EXPECT_EQ(p[1], (2 + 7) >> 1);  // greens at (1, 0), (2, 1)
    p = PixelAt(*dib, 0, 1);
    EXPECT_EQ(p[0], 9);  // blue at (0, 2)
    EXPECT_EQ(p[2], 6);  // red at (1, 1)
    EXPECT_EQ(p[1], (5 + 10) >> 1);
    p = PixelAt(*dib, 3, 0);
    EXPECT_EQ(p[0] + p[1] + p[2], 0);

    // Unknown arrangements are read as GBRG.
    Picture odd(Tav::PixelTypeRaw8, 2, 2, 2, {10, 20, 40, 70});
    odd.header.filterPattern = 7;
    ASSERT_TRUE(odd.Convert(dib));
    p = PixelAt(*dib, 0, 0);
    EXPECT_EQ(p[0], 20);
    EXPECT_EQ(p[2], 40);
    EXPECT_EQ(p[1], 40);
}

TEST(Conversion, OtherTypesLeaveTheBitmap)
{
    CDibPtr dib = CDib::Create(2, 2, 8, true, 1);
    CDib* before = dib.Get();
    Picture mono16(Tav::PixelTypeMono16, 2, 2, 4, std::vector<uint8_t>(8));
    EXPECT_FALSE(mono16.Convert(dib));
    EXPECT_EQ(dib.Get(), before);
}

TEST(Conversion, Yuv422MatchesTheFormulasForEveryInput)
{
    // One line per (U, V): 256 pairs with Y0 = Y1 = i.
    std::vector<uint8_t> line(4 * 256);
    std::vector<uint8_t> out(3 * 512);
    auto clamp = [](int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); };
    int mismatches = 0;
    for (int u = 0; u < 256; ++u)
        for (int v = 0; v < 256; ++v) {
            for (int i = 0; i < 256; ++i) {
                line[4 * i] = uint8_t(u);
                line[4 * i + 1] = line[4 * i + 3] = uint8_t(i);
                line[4 * i + 2] = uint8_t(v);
            }
            ConvertYuv422ToBgr(line.data(), 512, 1, out.data(), ptrdiff_t(out.size()));
            const int d = u - 128, e = v - 128;
            for (int i = 0; i < 256 && mismatches < 10; ++i) {
                const int c = i - 16;
                const uint8_t* p = &out[6 * i];
                if (p[0] != clamp((298 * c + 516 * d + 128) >> 8) ||
                    p[1] != clamp((298 * c - 100 * d - 208 * e + 128) >> 8) ||
                    p[2] != clamp((298 * c + 409 * e + 128) >> 8) || std::memcmp(p, p + 3, 3) != 0) {
                    ++mismatches;
                    ADD_FAILURE() << "U " << u << " Y " << i << " V " << v;
                }
            }
        }
    EXPECT_EQ(mismatches, 0);
}
