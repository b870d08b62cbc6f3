#include "HDRFilter.h"

#include "HDRFilterAux.h"

#include "Common/Exception.h"
#include "Core/RegisterRequest.h"
#include "DataBuffer/Guid.h"
#include "DataBuffer/RtlHeapAllocator.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace Tav {

namespace {

// A new image chunk buffer for a type the chunk helpers do not size
// themselves: created as `sizeType`, then retyped.
CChunkPtr<CImageChunk> MakeImage(const CImageChunk& source, uint8_t sizeType, uint8_t pixelType,
                                 uint8_t bitDepth, uint8_t filterPattern)
{
    CChunkPtr<CImageChunk> image = CreateImageChunkBuffer(source.x, source.y, source.width, source.height,
                                                          GetDefaultAllocator(), sizeType);
    CImageChunk header{}; // reserved bytes zero
    // A bottom-up source gives a bottom-up rendering.
    header.pitch = source.pitch < 0 ? -image->pitch : image->pitch;
    header.bitDepth = bitDepth;
    header.x = source.x;
    header.y = source.y;
    header.height = source.height;
    header.width = source.width;
    header.pixelType = pixelType;
    header.filterPattern = filterPattern;
    std::memcpy(image.Get(), &header, sizeof header);
    return image;
}

// Pixel data of an image chunk, locked for the scope.
class CLockedPixels {
public:
    explicit CLockedPixels(const CChunkPtr<CImageChunk>& image) : image(image)
    {
        data = static_cast<uint8_t*>(image.LockData(&size));
    }
    ~CLockedPixels() { image.UnlockData(); }
    CLockedPixels(const CLockedPixels&) = delete;
    CLockedPixels& operator=(const CLockedPixels&) = delete;

    uint8_t* data = nullptr;
    int size = 0;

private:
    const CChunkPtr<CImageChunk>& image;
};

// Bytes a 16-bit image needs with the given pitch: every row but the last
// at its pitch, the last one as wide as the image.
bool Holds16BitImage(int size, int32_t pitch, int width, int height)
{
    const int64_t row = int64_t(width) * 2;
    const int64_t stride = std::llabs(int64_t(pitch));
    if (height == 0 || width == 0)
        return true;
    return stride >= row && int64_t(size) >= stride * (height - 1) + row;
}

} // namespace

CHDRFilter::CHDRFilter()
{
    lock.Create();
}

CHDRFilter::~CHDRFilter() = default;

void CHDRFilter::OnInitialize()
{
    CModuleBase::OnInitialize();
    SetErrorPort(0);
    SetAuxiliaryPort(-1);
    AddOutputPort(ImagePort);
    AddOutputPort(ColorCodingQueryPort);
    CCriticalSectionLock guard(lock);
    converter = &SelectHDRConverter(converterSelection.load(), gammaValue.load(), truncate, tonemap, laplace,
                                    gamma);
}

void CHDRFilter::OnData(int inputPort, const CSmartPointer<IPacket>& packet)
{
    switch (inputPort) {
    case ImagePort:
        ProcessPacket(packet);
        break;
    case RegisterPort:
        HandleRequests(packet);
        break;
    default:
        CModuleBase::OnData(inputPort, packet);
    }
}

void CHDRFilter::ProcessPacket(const CSmartPointer<IPacket>& packet)
{
    if (!packet)
        return;
    CCriticalSectionLock guard(lock);
    try {
        CChunkPtr<CImageChunk> image = FindTypedChunk<CImageChunk>(*packet, GUID_ImageChunk);
        if (image && IsHDRPixelType(image->pixelType))
            Convert(*packet, image);
        Send(ImagePort, packet);
    } catch (const CException& error) {
        ReportError(error);
    } catch (...) {
        ReportError(CCommonException(0xCEF00000, 432, "HDRFilter.cpp"));
    }
}

void CHDRFilter::Convert(IPacket& packet, const CChunkPtr<CImageChunk>& image)
{
    converter = &SelectHDRConverter(converterSelection.load(), gammaValue.load(), truncate, tonemap, laplace,
                                    gamma);
    const CImageChunk& header = *image.Get();
    const int width = header.width;
    const int height = header.height;
    const size_t samples = size_t(width) * height;

    CChunkPtr<CImageChunk> source = image;
    if (header.pixelType == HDRPixelType::Packed12) {
        CChunkPtr<CImageChunk> unpacked =
            MakeImage(header, PixelTypeMono16, HDRPixelType::Raw16, header.bitDepth, header.filterPattern);
        unpacked->pitch = header.pitch < 0 ? -2 * width : 2 * width;
        {
            CLockedPixels from(image);
            CLockedPixels to(unpacked);
            UnpackPacked12(from.data, size_t(from.size), reinterpret_cast<uint16_t*>(to.data), samples);
        }
        packet.AddChunkBuffer(unpacked.GetBuffer());
        source = unpacked;
    }

    const CImageChunk& from = *source.Get();
    CChunkPtr<CImageChunk> target = MakeImage(from, PixelTypeMono8, static_cast<uint8_t>(HDRTargetPixelType(from.pixelType)),
                                              8, from.filterPattern);
    {
        CLockedPixels in(source);
        CLockedPixels out(target);
        if (!Holds16BitImage(in.size, from.pitch, width, height))
            throw CCommonException(0xCEF00006, __LINE__, "HDRFilter.cpp");
        // Chunks lie at any address; the converters read whole 16-bit words.
        std::vector<uint16_t> aligned;
        const uint16_t* pixels = reinterpret_cast<const uint16_t*>(in.data);
        if (reinterpret_cast<uintptr_t>(in.data) % alignof(uint16_t) != 0) {
            aligned.resize((size_t(in.size) + 1) / 2);
            std::memcpy(aligned.data(), in.data, size_t(in.size));
            pixels = aligned.data();
        }
        const int32_t sourcePitch = std::abs(from.pitch);
        const int32_t targetPitch = std::abs(target->pitch);
        if (!converter->Convert(pixels, out.data, width, height, sourcePitch, targetPitch,
                                HDRConvertPixelType(from.pixelType), from.bitDepth) &&
            out.data)
            std::memset(out.data, 0, size_t(out.size)); // refused: a blank picture, not stale memory
    }

    const int32_t colors = falseColor.load();
    if (colors == 0) {
        packet.AddChunkBuffer(target.GetBuffer());
        return;
    }
    CChunkPtr<CImageChunk> colored = MakeImage(from, PixelTypeRgb8, PixelTypeRgb8, 24, 0);
    CLockedPixels in(target);
    CLockedPixels out(colored);
    if (out.data)
        MapHDRPalette(GetHDRPalette(colors), in.data, std::abs(target->pitch), out.data, std::abs(colored->pitch),
                      width, height);
    packet.AddChunkBuffer(colored.GetBuffer());
}

int32_t CHDRFilter::QueryColorCoding()
{
    if (!IsConnected(ColorCodingQueryPort))
        return 0;
    CRegisterRequest query = CRegisterRequest::Read(ColorCodingAddress, 4);
    try {
        Send(ColorCodingQueryPort, query.GetPacket());
    } catch (const CException& error) {
        // No open camera answers; the registers stay readable meanwhile.
        Trace("colour-coding query failed: 0x%08X\n", error.GetCode());
        return 0;
    }
    return query.GetValue<int32_t>();
}

void CHDRFilter::Read(uint32_t addressLow, uint32_t addressHigh, void* data, uint32_t length)
{
    const int32_t coding = QueryColorCoding();
    const int32_t hdr = (coding == 5 || coding == 10 || coding == 128 || coding == 129) ? 1 : 0;
    sourceIsHdr = hdr;

    if (addressHigh != 0)
        throw CCommonException(0xCEF00008, 252, "HDRFilter.cpp");
    int32_t value;
    switch (addressLow) {
    case 0:
        value = hdr;
        break;
    case 1:
        value = converterSelection;
        break;
    case 2:
        value = falseColor;
        break;
    case 48:
        value = (converterSelection == HDRConverterSelection::Gamma && hdr == 1) ? 1 : 0;
        break;
    case 49:
        value = gammaPercent;
        break;
    case 50:
        value = gammaMin;
        break;
    case 51:
        value = gammaMax;
        break;
    case 52:
        value = gammaStep;
        break;
    default:
        throw CCommonException(0xCEF00008, 252, "HDRFilter.cpp");
    }
    CheckRegisterLength(length);
    if (!data)
        throw CCommonException(0xCEF00006, __LINE__, "HDRFilter.cpp");
    std::memcpy(data, &value, sizeof value);
}

void CHDRFilter::Write(uint32_t addressLow, uint32_t addressHigh, const void* data, uint32_t length)
{
    if (addressHigh != 0 || (addressLow != 1 && addressLow != 2 && addressLow != 49))
        throw CCommonException(0xCEF00008, 275, "HDRFilter.cpp");
    CheckRegisterLength(length);
    if (!data)
        throw CCommonException(0xCEF00006, __LINE__, "HDRFilter.cpp");
    int32_t value;
    std::memcpy(&value, data, sizeof value);
    switch (addressLow) {
    case 1:
        converterSelection = value;
        break;
    case 2:
        falseColor = value;
        break;
    case 49:
        gammaPercent = value;
        gammaValue = HDRGammaFromPercent(value);
        break;
    }
}

} // namespace Tav
