#include "ChainBuilder.h"

#include "DataBuffer/ImageChunk.h"
#include "DataBuffer/Packet.h"
#include "DataBuffer/StringChunk.h"
#include "DataBuffer/ValueChunk.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace Tav;
using TavTest::ChainBuilder;

TEST(Guid, ConstantsMatchTheirTextAndByteOrder)
{
    const std::pair<const char*, GUID> known[] = {
        {"{94ED7C88-1C0F-11D8-82E0-00105A5BAE55}", GUID_ImageChunk},
        {"{8C5DB844-1C0F-11D8-965F-00105A5BAE55}", GUID_FrameCounterChunk},
        {"{994DD430-1C0F-11D8-8F6B-00105A5BAE55}", GUID_CycleTimeChunk},
        {"{45304633-CC6D-4E19-BB29-21AFEB4B0158}", GUID_RefreshChunk},
        {"{A92FB3AC-C72E-4BE0-A56B-60279C19C108}", GUID_ErrorChunk},
        {"{15199C40-8530-466E-B6ED-A61CF4923CE9}", GUID_StringChunk},
        {"{B75156C9-4CB2-42CF-8E5B-92EDCCA34D4A}", GUID_RegisterRequestChunk},
        {"{744F2D67-94C9-446B-AC04-5574723560A9}", GUID_AcquisitionMarkerChunk},
        {"{F360302C-BDBF-43DA-9685-49CF2764EE32}", GUID_DeviceStateChunk},
    };
    for (const auto& [text, guid] : known) {
        EXPECT_EQ(GuidFromString(text), guid) << text;
        EXPECT_EQ(GuidToString(guid), text);
    }
    const uint8_t imageBytes[16] = {0x88, 0x7C, 0xED, 0x94, 0x0F, 0x1C, 0xD8, 0x11,
                                    0x82, 0xE0, 0x00, 0x10, 0x5A, 0x5B, 0xAE, 0x55};
    EXPECT_EQ(std::memcmp(&GUID_ImageChunk, imageBytes, 16), 0);

    GUID parsed = GUID_ImageChunk;
    EXPECT_TRUE(ParseGuid("{94ed7c88-1c0f-11d8-82e0-00105a5bae55}", parsed));
    for (const char* bad : {"", "94ED7C88-1C0F-11D8-82E0-00105A5BAE55", "{94ED7C88-1C0F-11D8-82E0-00105A5BAE5}",
                            "{94ED7C88-1C0F-11D8-82E0-00105A5BAE55}x", "{94ED7C88+1C0F-11D8-82E0-00105A5BAE55}",
                            "{94ED7C8G-1C0F-11D8-82E0-00105A5BAE55}"}) {
        EXPECT_FALSE(ParseGuid(bad, parsed)) << bad;
    }
    EXPECT_FALSE(ParseGuid(nullptr, parsed));
    EXPECT_EQ(parsed, GUID_ImageChunk);
    EXPECT_THROW(GuidFromString("{}"), CException);
}

TEST(ImageChunk, Mono16VgaGeometry)
{
    CChunkPtr<CImageChunk> image = CreateImageChunkBuffer(0, 0, 640, 480, GetDefaultAllocator(), PixelTypeMono16);
    ASSERT_FALSE(image.IsNull());
    const uint32_t d = 640 * 480 * 2;
    EXPECT_EQ(image.GetLength(), d + 48);
    EXPECT_EQ(image->pitch, 1280);
    EXPECT_EQ(image->bitDepth, 16);
    EXPECT_EQ(image->pixelType, 5);
    EXPECT_EQ(image->x, 0);
    EXPECT_EQ(image->y, 0);
    EXPECT_EQ(image->width, 640);
    EXPECT_EQ(image->height, 480);
    EXPECT_TRUE(image.IsType(GUID_ImageChunk));

    int size = 0;
    auto* pixels = static_cast<unsigned char*>(image.LockData(&size));
    EXPECT_EQ(size, int(d));
    // Byte layout from the chunk start: pixels, header, type, length, complement.
    auto* header = reinterpret_cast<unsigned char*>(image.Get());
    EXPECT_EQ(header, pixels + d);
    uint32_t length, complement;
    std::memcpy(&length, pixels + d + 40, 4);
    std::memcpy(&complement, pixels + d + 44, 4);
    EXPECT_EQ(length, d + 48);
    EXPECT_EQ(complement, ~(d + 48));
    EXPECT_EQ(std::memcmp(pixels + d + 24, &GUID_ImageChunk, 16), 0);
    uint16_t height, width;
    std::memcpy(&height, header + 12, 2);
    std::memcpy(&width, header + 14, 2);
    EXPECT_EQ(height, 480);
    EXPECT_EQ(width, 640);
    EXPECT_EQ(header[19], 5);
    image.UnlockData();

    // Found through a packet like any camera image.
    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(image.GetBuffer());
    CChunkPtr<CImageChunk> found = FindTypedChunk<CImageChunk>(*packet, GUID_ImageChunk);
    EXPECT_EQ(found.Get(), image.Get());
}

TEST(ImageChunk, BitsPerPixelTable)
{
    const std::pair<uint8_t, uint16_t> table[] = {{0, 8}, {1, 12}, {2, 16}, {3, 24}, {4, 24},
                                                  {5, 16}, {6, 48}, {240, 64}};
    for (auto [type, bits] : table)
        EXPECT_EQ(ImageChunkBitsPerPixel(type), bits) << int(type);
    for (int type : {7, 8, 9, 10, 11, 128, 239, 241, 255}) {
        try {
            ImageChunkBitsPerPixel(uint8_t(type));
            FAIL() << type;
        } catch (const CException& e) {
            EXPECT_EQ(e.GetCode(), 0xCEF00004u);
            EXPECT_EQ(e.GetLine(), 21);
            EXPECT_EQ(e.GetFile(), "ImageChunkAux.cpp");
        }
    }
    EXPECT_THROW(CreateImageChunkBuffer(0, 0, 4, 4, GetDefaultAllocator(), PixelTypeRaw8), CException);
}

TEST(ImageChunk, SizesTruncateOncePerImage)
{
    // 3 x 5 pixels of 12 bits: 22.5 bytes -> 22, pitch 36 / 8 -> 4.
    auto yuv = CreateImageChunkBuffer(7, 9, 3, 5, GetDefaultAllocator(), PixelTypeYuv411);
    EXPECT_EQ(yuv.GetLength(), 22u + 48u);
    EXPECT_EQ(yuv->pitch, 4);
    EXPECT_EQ(yuv->x, 7);
    EXPECT_EQ(yuv->y, 9);

    auto analysis = CreateImageChunkBuffer(0, 0, 2, 2, GetDefaultAllocator(), PixelTypeAnalysis64);
    EXPECT_EQ(analysis.GetLength(), 32u + 48u);
    EXPECT_EQ(analysis->bitDepth, 64);

    auto empty = CreateImageChunkBuffer(0, 0, 0, 0, GetDefaultAllocator(), PixelTypeMono8);
    EXPECT_EQ(empty.GetLength(), 48u);
    int size = -1;
    EXPECT_EQ(empty.LockData(&size), nullptr);
    EXPECT_EQ(size, 0);
    empty.UnlockData();
}

TEST(ImageChunk, OutOfRangeGeometryIsRefused)
{
    auto allocator = GetDefaultAllocator();
    EXPECT_THROW(CreateImageChunkBuffer(0, 0, 65536, 1, allocator, PixelTypeMono8), CException);
    EXPECT_THROW(CreateImageChunkBuffer(-1, 0, 1, 1, allocator, PixelTypeMono8), CException);
    EXPECT_THROW(CreateImageChunkBuffer(0, 0, 1, 1, nullptr, PixelTypeMono8), CException);
    // 65535 x 65535 x 8 bytes does not fit a 32-bit block size.
    try {
        CreateImageChunkBuffer(0, 0, 65535, 65535, allocator, PixelTypeAnalysis64);
        FAIL();
    } catch (const CException& e) {
        EXPECT_EQ(e.GetCode(), 0xCEF0000Au);
    }
}

TEST(ValueChunk, FrameCounterAndCycleTime)
{
    auto counter = MakeValueChunkBuffer(GUID_FrameCounterChunk, 4000000000u);
    EXPECT_EQ(counter->GetSize(), 28u);
    CChunkPtr<CChunk> chunk = counter->FindChunk(GUID_FrameCounterChunk);
    EXPECT_EQ(ReadChunkValue(chunk), 4000000000u);
    EXPECT_EQ(FormatFrameCounter(4000000000u), "4000000000 ");

    const uint32_t cycle = (5u << 25) | (123u << 12) | 45u;
    CCycleTime t = DecodeCycleTime(cycle);
    EXPECT_EQ(t.seconds, 5);
    EXPECT_EQ(t.cycleCount, 123);
    EXPECT_EQ(t.cycleOffset, 45);
    EXPECT_EQ(FormatCycleTime(cycle), "005:0123:0045 ");
    EXPECT_EQ(FormatCycleTime(0xFFFFFFFFu), "127:8191:4095 ");

    EXPECT_THROW(ReadChunkValue(CChunkPtr<CChunk>()), CException);
    auto trailerOnly = ChainBuilder().Chunk(GUID_FrameCounterChunk).Build();
    EXPECT_THROW(ReadChunkValue(trailerOnly->FindChunk(GUID_FrameCounterChunk)), CException);
}

TEST(StringChunk, BuildsAndReadsBack)
{
    auto buffer = MakeStringChunkBuffer({"Description", "", "File.cpp"}, 8);
    const uint32_t t = 12 + 1 + 9;
    EXPECT_EQ(buffer->GetSize(), t + 8 + 32);
    auto* data = static_cast<unsigned char*>(buffer->Lock());
    EXPECT_STREQ(reinterpret_cast<char*>(data), "Description");
    EXPECT_EQ(LoadU32(data + t + 8), 3u);
    EXPECT_EQ(LoadU32(data + t + 12), t);
    StoreU32(data + t, 0xCEF20000);
    StoreU32(data + t + 4, 128);
    CChunk::At(data + t + 16)->SetType(GUID_ErrorChunk);
    buffer->Unlock();

    CChunkPtr<CChunk> chunk = buffer->FindChunk(GUID_ErrorChunk);
    ASSERT_FALSE(chunk.IsNull());
    CStringChunkContent content = ReadStringChunk(chunk, 8);
    EXPECT_EQ(content.strings, (std::vector<std::string>{"Description", "", "File.cpp"}));
    ASSERT_EQ(content.extraSize, 8u);
    EXPECT_EQ(LoadU32(content.extra), 0xCEF20000u);
    EXPECT_EQ(LoadU32(content.extra + 4), 128u);

    auto none = MakeStringChunkBuffer({}, 0);
    EXPECT_EQ(none->GetSize(), 32u);
    EXPECT_TRUE(ReadStringChunk(none->FindChunk(GUID_StringChunk), 0).strings.empty());
}

TEST(StringChunk, MalformedCountsAreRejected)
{
    auto expectRejected = [](std::vector<uint8_t> payload, uint32_t extra) {
        auto buffer = ChainBuilder().Chunk(GUID_StringChunk, payload).Build();
        try {
            ReadStringChunk(buffer->FindChunk(GUID_StringChunk), extra);
            ADD_FAILURE() << "accepted";
        } catch (const CException& e) {
            EXPECT_EQ(e.GetCode(), 0xCEF20009u);
        }
    };
    // "ab" unterminated, count 1, T 2.
    expectRejected({'a', 'b', 1, 0, 0, 0, 2, 0, 0, 0}, 0);
    // T larger than the chunk.
    expectRejected({'a', 0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}, 0);
    // Two strings claimed, one present.
    expectRejected({'a', 0, 2, 0, 0, 0, 2, 0, 0, 0}, 0);
    // Bytes left over after the strings.
    expectRejected({'a', 0, 'b', 0, 1, 0, 0, 0, 4, 0, 0, 0}, 0);
    // Too short for the counts.
    expectRejected({1, 2, 3}, 0);
    // Extra bytes claimed beyond the chunk.
    expectRejected({'a', 0, 1, 0, 0, 0, 2, 0, 0, 0}, 0xFFFFFFF0u);
}
