#pragma once

#include "HDRConverterGamma.h"
#include "HDRConverterLaplace.h"
#include "HDRConverterTonemap.h"
#include "HDRConverterTruncate.h"

#include "Common/CriticalSectionWin32.h"
#include "Core/ModuleBase.h"
#include "Core/RegisterPortImpl.h"
#include "DataBuffer/ChunkPtr.h"
#include "DataBuffer/ImageChunk.h"

#include <atomic>
#include <cstdint>

namespace Tav {

// Adds an 8-bit (or false-colour 24-bit) rendering of a high-dynamic-range
// image to the image's packet and passes every packet on.
//
// Ports: output 0 errors, -1 auxiliary, 1 every incoming image packet,
// 3 colour-coding query to the camera side (the device controller's 1025);
// input 1 image packets, 2 register requests.
//
// Registers (4 bytes each, high address half 0):
//   0  read: 1 when the camera's colour coding is 5, 10, 128 or 129
//   1  converter: 0 truncate, 1 tone mapping, 2 Laplace pyramid, 3 gamma
//   2  false colour: 0 off, 1 colour scale, 2 descending grey, other grey
//   48 read: 1 when the gamma converter is selected and register 0 reads 1
//   49 gamma x 100
//   50, 51, 52 read: minimum, maximum and step of register 49
class CHDRFilter : public CModuleBase, public CRegisterPortImpl {
public:
    static constexpr int ImagePort = 1;
    static constexpr int RegisterPort = 2;
    static constexpr int ColorCodingQueryPort = 3;
    // The camera's colour-coding register, asked for on the query port.
    static constexpr uint64_t ColorCodingAddress = 18;

    CHDRFilter();
    ~CHDRFilter() override;

    void OnInitialize() override;
    void OnData(int inputPort, const CSmartPointer<IPacket>& packet) override;

    using CRegisterPortImpl::Read;
    using CRegisterPortImpl::Write;
    void Read(uint32_t addressLow, uint32_t addressHigh, void* data, uint32_t length) override;
    void Write(uint32_t addressLow, uint32_t addressHigh, const void* data, uint32_t length) override;

    // Adds the converted image to `packet` and sends it on; errors go to
    // the error port and the packet is dropped.
    virtual void ProcessPacket(const CSmartPointer<IPacket>& packet);

private:
    // Asks the camera side for its colour coding; 0 when nobody answers.
    int32_t QueryColorCoding();
    void Convert(IPacket& packet, const CChunkPtr<CImageChunk>& image);

    CCriticalSectionWin32 lock;
    // Registers written from other threads than the packets' are atomics,
    // and the converter is chosen from them under `lock` for each packet,
    // so a write never changes a converter while it runs.
    std::atomic<int32_t> converterSelection{0};
    std::atomic<int32_t> falseColor{0};
    CHDRConverterBase* converter = nullptr;
    CHDRConverterTruncate truncate;
    CHDRConverterTonemap tonemap;
    CHDRConverterLaplace laplace;
    CHDRConverterGamma gamma;
    std::atomic<double> gammaValue{1.0};
    std::atomic<int32_t> gammaPercent{100};
    const int32_t gammaMin = 1;
    const int32_t gammaMax = 200;
    const int32_t gammaStep = 1;
    std::atomic<int32_t> sourceIsHdr{0};
};

} // namespace Tav
