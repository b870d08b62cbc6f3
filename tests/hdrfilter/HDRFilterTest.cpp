#include "HDRConverterGamma.h"
#include "HDRConverterLaplace.h"
#include "HDRConverterTonemap.h"
#include "HDRConverterTruncate.h"
#include "HDRFilter.h"
#include "HDRFilterAux.h"
#include "HDRTestImages.h"

#include "Core/ErrorChunk.h"
#include "Core/ModuleLinker.h"
#include "Core/RegisterRequest.h"
#include "DataBuffer/Guid.h"
#include "DataBuffer/Packet.h"
#include "DataBuffer/RtlHeapAllocator.h"

#include "support/TestModules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

using namespace Tav;
using namespace TavTest;

namespace {

// The camera side of the colour-coding query: serves register requests on
// input 1025 from a register map.
class CameraSide : public CModuleBase {
public:
    void OnInitialize() override
    {
        CModuleBase::OnInitialize();
        SetErrorPort(0);
        SetAuxiliaryPort(-1);
    }
    void OnData(int inputPort, const CSmartPointer<IPacket>& packet) override
    {
        if (inputPort != 1025)
            CModuleBase::OnData(inputPort, packet);
        else
            HandleRegisterRequests(registers, packet);
    }
    void SetColorCoding(uint32_t coding)
    {
        for (int i = 0; i < 4; ++i)
            registers.bytes[18 + i] = static_cast<uint8_t>(coding >> (8 * i));
    }
    TestRegisters registers;
};

struct FilterGraph {
    TestSource source;
    CHDRFilter filter;
    CollectingSink next, errors;
    CameraSide camera;
    CModuleLinker linker;

    explicit FilterGraph(bool withCamera = true)
    {
        source.Initialize("Source", nullptr);
        filter.Initialize("HDRFilter", nullptr);
        next.Initialize("Next", nullptr);
        errors.Initialize("Errors", nullptr);
        camera.Initialize("Camera", nullptr);
        linker.Link(&source, 1, &filter, 1);
        linker.Link(&filter, 1, &next, 1);
        linker.Link(&filter, 0, &errors, 1);
        if (withCamera)
            linker.Link(&filter, 3, &camera, 1025);
        filter.Start();
    }
    ~FilterGraph() { linker.UnlinkAll(); }

    void WriteRegister(uint32_t address, int32_t value)
    {
        filter.Push(2, CRegisterRequest::Write(address, &value, 4).GetPacket());
    }
    int32_t ReadRegister(uint32_t address)
    {
        CRegisterRequest request = CRegisterRequest::Read(address, 4);
        filter.Push(2, request.GetPacket());
        return request.GetValue<int32_t>();
    }
    // Sends `packet` through the filter; the packet that came out, or null.
    CSmartPointer<IPacket> Run(const CSmartPointer<IPacket>& packet)
    {
        const size_t before = next.Count();
        source.Emit(packet);
        auto deliveries = next.Deliveries();
        return deliveries.size() > before ? deliveries.back().packet : CSmartPointer<IPacket>();
    }
    std::vector<CErrorChunkContent> Errors()
    {
        std::vector<CErrorChunkContent> out;
        for (const auto& d : errors.Deliveries()) {
            CChunkPtr<CChunk> chunk;
            d.packet->FindChunk(chunk, GUID_ErrorChunk);
            out.push_back(ReadErrorChunk(chunk));
        }
        return out;
    }
};

struct ImageSpec {
    int width = 0, height = 0;
    uint8_t pixelType = PixelTypeMono16;
    uint8_t bitDepth = 16;
    uint8_t filterPattern = 0;
    uint16_t x = 0, y = 0;
};

// A packet with one image chunk buffer holding `bytes` as its pixel data and
// a header as given (sizes and type are not checked against the data).
CSmartPointer<IPacket> MakeRawImagePacket(const ImageSpec& shape, const std::vector<uint8_t>& bytes, int32_t pitch)
{
    CChunkPtr<CImageChunk> image = CreateImageChunkBuffer(0, 0, static_cast<int>(bytes.size()), 1,
                                                          GetDefaultAllocator(), PixelTypeMono8);
    int size = 0;
    std::memcpy(image.LockData(&size), bytes.data(), bytes.size());
    image.UnlockData();
    CImageChunk* header = image.Get();
    header->width = static_cast<uint16_t>(shape.width);
    header->height = static_cast<uint16_t>(shape.height);
    header->x = shape.x;
    header->y = shape.y;
    header->pitch = pitch;
    header->pixelType = shape.pixelType;
    header->bitDepth = shape.bitDepth;
    header->filterPattern = shape.filterPattern;
    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(image.GetBuffer());
    return packet;
}

CSmartPointer<IPacket> Make16BitPacket(const ImageSpec& shape, const std::vector<uint16_t>& samples)
{
    std::vector<uint8_t> bytes(samples.size() * 2);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return MakeRawImagePacket(shape, bytes, shape.width * 2);
}

std::vector<CSmartPointer<IChunkBuffer>> BuffersOf(const CSmartPointer<IPacket>& packet)
{
    std::vector<CSmartPointer<IChunkBuffer>> out;
    CSmartPointer<IEnumChunkBuffers> buffers;
    packet->EnumChunkBuffers(buffers);
    CSmartPointer<IChunkBuffer> buffer;
    while (buffers->Next(buffer))
        out.push_back(buffer);
    return out;
}

// The image chunk of chunk buffer `index` of `packet`.
CChunkPtr<CImageChunk> ImageOf(const CSmartPointer<IPacket>& packet, size_t index)
{
    auto buffers = BuffersOf(packet);
    if (index >= buffers.size())
        return {};
    CSmartPointer<IEnumChunks> chunks;
    buffers[index]->EnumChunks(chunks);
    CChunkPtr<CChunk> chunk;
    while (chunks->Next(chunk))
        if (chunk.IsType(GUID_ImageChunk))
            return chunk;
    return {};
}

std::vector<uint8_t> PixelsOf(const CChunkPtr<CImageChunk>& image)
{
    int size = 0;
    auto* data = static_cast<uint8_t*>(image.LockData(&size));
    std::vector<uint8_t> out(data, data + size);
    image.UnlockData();
    return out;
}

std::vector<uint8_t> Direct(CHDRConverterBase& converter, const std::vector<uint16_t>& image, int width,
                            int height, int bitDepth = 16)
{
    std::vector<uint8_t> out(image.size());
    EXPECT_TRUE(converter.Convert(image.data(), out.data(), width, height, width * 2, width, 5, bitDepth));
    return out;
}

struct Failure {
    uint32_t code = 0;
    int line = 0;
    std::string file;
};

Failure FailureOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const CException& e) {
        return {e.GetCode(), e.GetLine(), e.GetFile()};
    }
    return {};
}

} // namespace

TEST(HDRFilter, PacketsWithoutAnHdrImagePassUnchanged)
{
    FilterGraph g;
    CSmartPointer<IPacket> mono8 = MakeRawImagePacket({4, 2, PixelTypeMono8, 8}, std::vector<uint8_t>(8, 7), 4);
    CSmartPointer<IPacket> text = MakeTextPacket("no image");
    for (const auto& packet : {mono8, text}) {
        CSmartPointer<IPacket> out = g.Run(packet);
        ASSERT_TRUE(out);
        EXPECT_EQ(out.Get(), packet.Get());
        EXPECT_EQ(BuffersOf(out).size(), 1u);
    }
    EXPECT_TRUE(g.Errors().empty());
}

TEST(HDRFilter, NarrowMono16RangeIsStretchedOverExactly255StepsByGammaAndLaplace)
{
    const int width = 40, height = 33;
    const std::vector<uint16_t> image = HDRTest::RandomImage(width, height, 1000, 1100, 7);
    FilterGraph g;

    g.WriteRegister(1, HDRConverterSelection::Gamma);
    CSmartPointer<IPacket> out = g.Run(Make16BitPacket({width, height, PixelTypeMono16, 12, 0, 3, 5}, image));
    ASSERT_TRUE(out);
    ASSERT_EQ(BuffersOf(out).size(), 2u);
    CChunkPtr<CImageChunk> target = ImageOf(out, 1);
    EXPECT_EQ(target->pixelType, PixelTypeMono8);
    EXPECT_EQ(target->bitDepth, 8);
    EXPECT_EQ(target->width, width);
    EXPECT_EQ(target->height, height);
    EXPECT_EQ(target->pitch, width);
    EXPECT_EQ(target->x, 3);
    EXPECT_EQ(target->y, 5);
    const uint16_t low = *std::min_element(image.begin(), image.end());
    std::vector<uint8_t> pixels = PixelsOf(target);
    ASSERT_EQ(pixels.size(), image.size());
    for (size_t i = 0; i < image.size(); ++i)
        ASSERT_EQ(pixels[i], image[i] - low) << i; // one output step per input value

    // A gentle ramp: its pyramid stays within less than 255 codes.
    std::vector<uint16_t> ramp(64 * 32);
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<uint16_t>(2300 + 5 * (i % 64));
    g.WriteRegister(1, HDRConverterSelection::Laplace);
    out = g.Run(Make16BitPacket({64, 32}, ramp));
    ASSERT_TRUE(out);
    pixels = PixelsOf(ImageOf(out, 1));
    CHDRConverterLaplace laplace;
    EXPECT_EQ(pixels, Direct(laplace, ramp, 64, 32));
    EXPECT_EQ(*std::min_element(pixels.begin(), pixels.end()), 0);
    EXPECT_LT(*std::max_element(pixels.begin(), pixels.end()), 255);
}

TEST(HDRFilter, ConverterRegisterSelectsTheConverterForTheNextPacket)
{
    const int width = 32, height = 8;
    const std::vector<uint16_t> image = HDRTest::RandomImage(width, height, 0, 4095, 3);
    CHDRConverterTruncate truncate;
    CHDRConverterTonemap tonemap;
    CHDRConverterLaplace laplace;
    CHDRConverterGamma gamma;
    gamma.SetGamma(0.5);
    struct Case {
        int32_t selection;
        CHDRConverterBase* converter;
    };
    FilterGraph g;
    g.WriteRegister(49, 50);
    for (Case c : {Case{1, &tonemap}, Case{2, &laplace}, Case{3, &gamma}, Case{0, &truncate}, Case{7, &truncate},
                   Case{-1, &truncate}}) {
        g.WriteRegister(1, c.selection);
        CSmartPointer<IPacket> out = g.Run(Make16BitPacket({width, height, PixelTypeMono16, 12}, image));
        ASSERT_TRUE(out);
        EXPECT_EQ(PixelsOf(ImageOf(out, 1)), Direct(*c.converter, image, width, height, 12))
            << "selection " << c.selection;
    }
}

TEST(HDRFilter, RawSourcesGiveRaw8AndKeepTheirFilterPattern)
{
    const std::vector<uint16_t> image = HDRTest::RandomImage(6, 4, 0, 65535, 5);
    FilterGraph g;
    CSmartPointer<IPacket> out = g.Run(Make16BitPacket({6, 4, PixelTypeRaw16, 16, FilterPatternBggr}, image));
    ASSERT_TRUE(out);
    CChunkPtr<CImageChunk> target = ImageOf(out, 1);
    EXPECT_EQ(target->pixelType, PixelTypeRaw8);
    EXPECT_EQ(target->filterPattern, FilterPatternBggr);
    CHDRConverterTruncate truncate;
    EXPECT_EQ(PixelsOf(target), Direct(truncate, image, 6, 4));
}

TEST(HDRFilter, FalseColourAddsOnlyA24BitImage)
{
    const std::vector<uint16_t> image = HDRTest::RandomImage(5, 3, 0, 65535, 9);
    CHDRConverterTruncate truncate;
    const std::vector<uint8_t> grey = Direct(truncate, image, 5, 3);
    FilterGraph g;
    for (int32_t mode : {2, 1, 9}) {
        g.WriteRegister(2, mode);
        EXPECT_EQ(g.ReadRegister(2), mode);
        CSmartPointer<IPacket> out = g.Run(Make16BitPacket({5, 3, PixelTypeMono16, 16, FilterPatternGbrg}, image));
        ASSERT_TRUE(out);
        ASSERT_EQ(BuffersOf(out).size(), 2u);
        CChunkPtr<CImageChunk> colored = ImageOf(out, 1);
        EXPECT_EQ(colored->pixelType, PixelTypeRgb8);
        EXPECT_EQ(colored->bitDepth, 24);
        EXPECT_EQ(colored->filterPattern, 0);
        EXPECT_EQ(colored->pitch, 15);
        const std::vector<uint8_t> rgb = PixelsOf(colored);
        ASSERT_EQ(rgb.size(), grey.size() * 3);
        const HDRPalette& palette = GetHDRPalette(mode);
        for (size_t i = 0; i < grey.size(); ++i)
            for (int b = 0; b < 3; ++b) {
                const int expected = mode == 2 ? 255 - grey[i] : mode == 9 ? grey[i] : palette[grey[i]][b];
                ASSERT_EQ(rgb[3 * i + b], expected) << "mode " << mode << " pixel " << i;
            }
    }
}

TEST(HDRFilter, Packed12IsUnpackedToRaw16AndConverted)
{
    // 3 x 2 = six samples: one whole group and a partial one of two samples.
    const std::vector<uint8_t> packed = {0xAB, 0xCD, 0xEF, 0x12, 0x34, 0x56, 0x9A, 0xBC, 0x00, 0xDE};
    const std::vector<uint16_t> expected = {0xCDA, 0xB12, 0xEF5, 0x634, 0xBC9, 0xADE};
    FilterGraph g;
    CSmartPointer<IPacket> out =
        g.Run(MakeRawImagePacket({3, 2, 129, 12, FilterPatternGrbg, 1, 2}, packed, 5));
    ASSERT_TRUE(out);
    ASSERT_EQ(BuffersOf(out).size(), 3u);
    CChunkPtr<CImageChunk> unpacked = ImageOf(out, 1);
    EXPECT_EQ(unpacked->pixelType, PixelTypeRaw16);
    EXPECT_EQ(unpacked->bitDepth, 12);
    EXPECT_EQ(unpacked->filterPattern, FilterPatternGrbg);
    EXPECT_EQ(unpacked->pitch, 6);
    EXPECT_EQ(unpacked->x, 1);
    EXPECT_EQ(unpacked->y, 2);
    std::vector<uint8_t> bytes = PixelsOf(unpacked);
    ASSERT_EQ(bytes.size(), 12u);
    std::vector<uint16_t> samples(6);
    std::memcpy(samples.data(), bytes.data(), 12);
    EXPECT_EQ(samples, expected);

    CChunkPtr<CImageChunk> target = ImageOf(out, 2);
    EXPECT_EQ(target->pixelType, PixelTypeRaw8);
    CHDRConverterTruncate truncate;
    EXPECT_EQ(PixelsOf(target), Direct(truncate, expected, 3, 2, 12));

    // One byte short of the partial group: reported, not sent.
    std::vector<uint8_t> shortData(packed.begin(), packed.end() - 1);
    EXPECT_FALSE(g.Run(MakeRawImagePacket({3, 2, 129, 12}, shortData, 5)));
    auto errors = g.Errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].code, 0xCEF00006u);
}

TEST(HDRFilter, ImagesTheirDataCannotHoldAreReportedAndDropped)
{
    FilterGraph g;
    const std::vector<uint16_t> image(12, 100);
    // Header says 4 x 4, data hold 4 x 3.
    EXPECT_FALSE(g.Run(Make16BitPacket({4, 4}, image)));
    // A pitch narrower than a row.
    std::vector<uint8_t> bytes(24);
    EXPECT_FALSE(g.Run(MakeRawImagePacket({4, 3}, bytes, 6)));
    auto errors = g.Errors();
    ASSERT_EQ(errors.size(), 2u);
    for (const auto& e : errors) {
        EXPECT_EQ(e.code, 0xCEF00006u);
        EXPECT_EQ(e.file, "HDRFilter.cpp");
    }
    EXPECT_EQ(g.next.Count(), 0u);
}

TEST(HDRFilter, BottomUpSourcesGiveBottomUpResults)
{
    const std::vector<uint16_t> image = HDRTest::RandomImage(4, 3, 0, 65535, 11);
    std::vector<uint8_t> bytes(image.size() * 2);
    std::memcpy(bytes.data(), image.data(), bytes.size());
    FilterGraph g;
    CSmartPointer<IPacket> out = g.Run(MakeRawImagePacket({4, 3}, bytes, -8));
    ASSERT_TRUE(out);
    CChunkPtr<CImageChunk> target = ImageOf(out, 1);
    EXPECT_EQ(target->pitch, -4);
    CHDRConverterTruncate truncate;
    EXPECT_EQ(PixelsOf(target), Direct(truncate, image, 4, 3));
}

TEST(HDRFilter, FailuresDownstreamAreReportedOnTheErrorPort)
{
    FilterGraph g;
    g.next.onData = [](int, const CSmartPointer<IPacket>&) { throw std::runtime_error("not ours"); };
    g.Run(MakeTextPacket("x"));
    g.next.onData = [](int, const CSmartPointer<IPacket>&) { throw CCommonException(0xCEF00004, 9, "Next.cpp"); };
    g.Run(MakeTextPacket("y"));
    auto errors = g.Errors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].code, 0xCEF00000u);
    EXPECT_EQ(errors[0].line, 432u);
    EXPECT_EQ(errors[0].file, "HDRFilter.cpp");
    EXPECT_EQ(errors[1].code, 0xCEF00004u);
    EXPECT_EQ(errors[1].file, "Next.cpp");
}

TEST(HDRFilter, RegistersHoldTheirDefaultsAndLimits)
{
    FilterGraph g;
    const std::pair<uint32_t, int32_t> expected[] = {{0, 0}, {1, 0}, {2, 0}, {48, 0}, {49, 100},
                                                     {50, 1}, {51, 200}, {52, 1}};
    for (auto [address, value] : expected)
        EXPECT_EQ(g.ReadRegister(address), value) << address;
    // Every read asked the camera side for its colour coding first.
    auto calls = g.camera.registers.Calls();
    EXPECT_EQ(calls.size(), std::size(expected));
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "read 18 4"), long(calls.size()));
}

TEST(HDRFilter, GammaRegistersFollowSelectionAndTheCamerasColourCoding)
{
    FilterGraph g;
    g.WriteRegister(49, 50);
    EXPECT_EQ(g.ReadRegister(49), 50);

    // The gamma converter now runs with 0.5.
    g.WriteRegister(1, HDRConverterSelection::Gamma);
    const std::vector<uint16_t> image = HDRTest::RandomImage(8, 2, 0, 65535, 2);
    CSmartPointer<IPacket> out = g.Run(Make16BitPacket({8, 2}, image));
    ASSERT_TRUE(out);
    CHDRConverterGamma half;
    half.SetGamma(0.5);
    EXPECT_EQ(PixelsOf(ImageOf(out, 1)), Direct(half, image, 8, 2));

    for (uint32_t coding : {5u, 10u, 128u, 129u}) {
        g.camera.SetColorCoding(coding);
        EXPECT_EQ(g.ReadRegister(0), 1) << coding;
        EXPECT_EQ(g.ReadRegister(48), 1) << coding;
    }
    for (uint32_t coding : {0u, 9u, 6u, 127u}) {
        g.camera.SetColorCoding(coding);
        EXPECT_EQ(g.ReadRegister(0), 0) << coding;
        EXPECT_EQ(g.ReadRegister(48), 0) << coding;
    }
    g.camera.SetColorCoding(5);
    for (int32_t selection : {0, 1, 2, 4}) {
        g.WriteRegister(1, selection);
        EXPECT_EQ(g.ReadRegister(1), selection);
        EXPECT_EQ(g.ReadRegister(48), 0) << selection;
    }
}

TEST(HDRFilter, WithoutACameraSideTheSourceIsNotHdr)
{
    FilterGraph unlinked(false);
    unlinked.WriteRegister(1, HDRConverterSelection::Gamma);
    EXPECT_EQ(unlinked.ReadRegister(0), 0);
    EXPECT_EQ(unlinked.ReadRegister(48), 0);

    // A camera side that cannot answer (no device open) reads as no HDR.
    FilterGraph g;
    g.linker.UnlinkAll();
    g.linker.Link(&g.filter, 3, &g.camera, 1024);
    g.camera.SetColorCoding(5);
    EXPECT_EQ(g.ReadRegister(0), 0);
    EXPECT_EQ(g.ReadRegister(1), 0);
}

TEST(HDRFilter, RegisterFailuresCarryTheirCodesAndLines)
{
    FilterGraph g;
    const int32_t value = 1;
    struct Case {
        const char* what;
        CRegisterRequest request;
        uint32_t code;
        int line;
        const char* file;
    };
    const Case cases[] = {
        {"read 3", CRegisterRequest::Read(3, 4), 0xCEF00008, 252, "HDRFilter.cpp"},
        {"read 47", CRegisterRequest::Read(47, 4), 0xCEF00008, 252, "HDRFilter.cpp"},
        {"read 53", CRegisterRequest::Read(53, 4), 0xCEF00008, 252, "HDRFilter.cpp"},
        {"read high", CRegisterRequest::Read(0x100000001ull, 4), 0xCEF00008, 252, "HDRFilter.cpp"},
        {"write 0", CRegisterRequest::Write(0, &value, 4), 0xCEF00008, 275, "HDRFilter.cpp"},
        {"write 48", CRegisterRequest::Write(48, &value, 4), 0xCEF00008, 275, "HDRFilter.cpp"},
        {"write 50", CRegisterRequest::Write(50, &value, 4), 0xCEF00008, 275, "HDRFilter.cpp"},
        {"write 52", CRegisterRequest::Write(52, &value, 4), 0xCEF00008, 275, "HDRFilter.cpp"},
        {"write 3", CRegisterRequest::Write(3, &value, 4), 0xCEF00008, 275, "HDRFilter.cpp"},
        {"write high", CRegisterRequest::Write(0x100000001ull, &value, 4), 0xCEF00008, 275, "HDRFilter.cpp"},
        {"read 2 bytes", CRegisterRequest::Read(1, 2), 0xCEF00006, 73, "RegisterPortImpl.cpp"},
        {"read 8 bytes", CRegisterRequest::Read(49, 8), 0xCEF00006, 73, "RegisterPortImpl.cpp"},
        {"write 2 bytes", CRegisterRequest::Write(1, &value, 2), 0xCEF00006, 73, "RegisterPortImpl.cpp"},
        {"read, no data", CRegisterRequest::Make(1, 0, 4, 0, nullptr), 0xCEF00006, 52, "RegisterPortImpl.cpp"},
        {"read, short data", CRegisterRequest::Make(1, 0, 4, 2, nullptr), 0xCEF00006, 52, "RegisterPortImpl.cpp"},
        {"write, no data", CRegisterRequest::Make(1, 1, 4, 0, nullptr), 0xCEF00006, 60, "RegisterPortImpl.cpp"},
        {"write, short data", CRegisterRequest::Make(1, 1, 4, 3, &value), 0xCEF00006, 60, "RegisterPortImpl.cpp"},
        {"direction 2", CRegisterRequest::Make(1, 2, 4, 4, &value), 0xCEF00004, 66, "RegisterPortImpl.cpp"},
    };
    for (const Case& c : cases) {
        Failure f = FailureOf([&] { g.filter.Push(2, c.request.GetPacket()); });
        EXPECT_EQ(f.code, c.code) << c.what;
        EXPECT_EQ(f.line, c.line) << c.what;
        EXPECT_EQ(f.file, c.file) << c.what;
    }
    Failure none = FailureOf([&] { g.filter.Push(2, MakeTextPacket("no request")); });
    EXPECT_EQ(none.code, 0xCEF00004u);
    EXPECT_EQ(none.line, 29);
    EXPECT_EQ(none.file, "RegisterPortImpl.cpp");
    // Failed writes left the registers alone.
    EXPECT_EQ(g.ReadRegister(1), 0);
    EXPECT_EQ(g.ReadRegister(49), 100);

    Failure port = FailureOf([&] { g.filter.Push(5, MakeTextPacket("x")); });
    EXPECT_EQ(port.code, 0xCEF10103u);
}

TEST(HDRFilter, RequestsAreServedInOrderWithinOnePacket)
{
    FilterGraph g;
    const int32_t selection = 2, percent = 150;
    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(CRegisterRequest::MakeBuffer(1, RegisterWrite, 4, 4, &selection));
    packet->AddChunkBuffer(CRegisterRequest::MakeBuffer(49, RegisterWrite, 4, 4, &percent));
    CSmartPointer<CChunkBuffer> read = CRegisterRequest::MakeBuffer(1, RegisterRead, 4, 4, nullptr);
    packet->AddChunkBuffer(read);
    g.filter.Push(2, packet);
    int32_t readBack = 0;
    std::memcpy(&readBack, read->GetData(), 4);
    EXPECT_EQ(readBack, 2);
    EXPECT_EQ(g.ReadRegister(49), 150);
}
