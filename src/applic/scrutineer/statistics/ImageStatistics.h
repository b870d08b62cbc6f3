#pragma once

#include "GaussRandomGenerator.h"
#include "RealFft.h"
#include "StatisticsExport.h"

#include "Common/CriticalSectionWin32.h"
#include "Core/IRegisterSet.h"
#include "Core/ModuleBase.h"
#include "DataBuffer/ImageChunk.h"
#include "DataBuffer/IPacket.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Tav {

class CViewPainter;

// The chunk type whose chunks the statistics copy to their output besides the
// frame counter and the cycle time.
inline constexpr GUID GUID_StatisticsPassChunk = {0x911C8982, 0x1C0F, 0x11D8,
                                                  {0x8A, 0xF0, 0x00, 0x10, 0x5A, 0x5B, 0xAE, 0x55}};

// Noise measurement of Mono8 and Mono16 images: mean, total, temporal and
// spatial noise, line views, spectra, histograms and a line scan, averaged
// over frames and drawn over an RGB8 rendering of the measured image.
//
// Ports: input 1 images, 2 register requests; output 0 errors, 1 the drawn
// view with the input's frame-counter, cycle-time and GUID_StatisticsPassChunk
// chunks, 3 refresh packets (value 99) after every frame.
//
// Registers: 32-bit integers, 64-bit reals (1, 2, 4, 6, 11-13, 23, 24, 36,
// 37, 40) and the export file name (114, zero-terminated), by the low
// address half (the high half must be 0):
//   0 R settings mask of the view     1-7 R mean, total/temporal/spatial rms and pp
//   8 synthetic noise 0-8             9 sub-sampling 0-11        10 total-noise method 0/1
//   11-13 R FFT full/white noise, non-white coefficient
//   16 view 0-12   17 margin   18 R its maximum   19, 20 selected column/line or bin
//   21, 22 R transform lengths (spectrum views) or largest column and line
//   23 R value at the selection   24 R its period or frequency   25 averaging depth
//   32 deviation threshold   33 R deviating pixels   34 R frames measured since the
//   last re-initialisation   35 W export type   36 R median   37 sampling scale
//   38 window (1 Hamming)   39 W peak search +1/-1   40 peak threshold factor
//   81 window option: 1 subtracts the mean of a window of 82 x 82 input pixels
//      around each pixel (adding back the image mean: shading removed), 2 takes
//      that mean (smoothing); the margin supplies the pixels beyond the edges,
//      so 82 is limited to 2 x margin (83, R) on re-initialisation
//   84 display offset   85 display shift   86 temporal filter 0-4   87 its depth
//   88 W store reference 1   89 apply it   96 dark pedestal   97 W compute
//   reference 2   98 apply it   99 filter count   112 frames left in the run
//   113 stored only   114 export file   115 export when a run ends
class CImageStatistics : public CModuleBase, public IRegisterSet {
public:
    static constexpr int ImagePort = 1;
    static constexpr int RegisterPort = 2;
    static constexpr int RefreshPort = 3;

    CImageStatistics();
    ~CImageStatistics() override;

    void OnInitialize() override;
    void OnData(int inputPort, const CSmartPointer<IPacket>& packet) override;

    // Measures the packet's first image and sends the drawn view on port 1;
    // anything it cannot measure is passed on unchanged.
    virtual void ProcessPacket(const CSmartPointer<IPacket>& packet);

    void Read(uint64_t address, void* buffer, uint32_t length) override;
    void Write(uint64_t address, const void* buffer, uint32_t length) override;

    // The current view's vectors and the measures, for the text export.
    CStatisticsExportData GetExportData();

    // A 16-bit picture: the working image and the references.
    struct CMonoImage {
        int width = 0;
        int height = 0;
        std::vector<uint16_t> pixels;
        bool SameSize(const CMonoImage& other) const { return width == other.width && height == other.height; }
        uint16_t At(int x, int y) const { return pixels[size_t(y) * width + x]; }
    };

    // The working image of the last measured frame (tests, references).
    CMonoImage GetWorkingImage();

private:
    struct CSpectrum;
    struct CFrame;

    // ProcessPacket under the lock; returns the packet to send and whether a
    // refresh and an export follow.
    CSmartPointer<IPacket> ProcessLocked(IPacket& packet, bool& refresh, bool& exportNow);
    void Reinitialize();
    void ReadInput(const CChunkPtr<CChunk>& image, CFrame& frame);
    void AddSyntheticNoise(CFrame& frame);
    void BuildWorkingImage(const CFrame& frame);
    void ApplyCorrections();
    CChunkPtr<CImageChunk> BuildOutputImage(const CChunkPtr<CChunk>& background);
    void MeasureNoise();
    void ComputeView(CViewPainter& painter);
    void ComputeLineView(bool vertical, CViewPainter& painter);
    void ComputeSpectrumView(bool vertical, CViewPainter& painter);
    void ComputeHistogram(bool logarithmic, CViewPainter& painter);
    void ComputeDeviations(CViewPainter& painter);
    void ComputeLineScan(CViewPainter& painter);
    void Spectrum(bool vertical, int selectedBin, CSpectrum& result);
    void PeakSearch(int direction);
    // Addresses 23 and 24 from the amplitude spectrum at the selected bin.
    void UpdateSelectedBin();
    CStatisticsExportData ExportDataLocked() const;
    void SendRefresh();
    int Mapped(int pixel) const; // the display mapping, not clamped
    int Mapped8(int pixel) const;

    CCriticalSectionWin32 lock;

    CMonoImage working;
    CMonoImage previous;
    CMonoImage reference1;
    std::vector<double> reference2; // gain per pixel
    int reference2Width = 0;
    int reference2Height = 0;
    std::vector<double> filter;
    int filterWidth = 0;
    int filterHeight = 0;

    std::vector<double> lineView;
    std::vector<double> amplitude;
    std::vector<double> coherent;
    std::vector<double> phasorSums; // re, im per bin of the last frame
    std::vector<double> scanMean;
    std::vector<double> scanStdDev;
    std::vector<double> histogram;
    std::vector<double> spectrumScratch;
    std::vector<double> previousLine;
    std::vector<double> phases; // bin k of each line, the last spectrum
    long transformLength = 0;   // N of the last spectrum
    std::shared_ptr<const CRealFft> fft;
    std::vector<int32_t> mapping; // display mapping of every 16-bit value
    int mappingOffset = 0;
    int mappingShift = 0;
    bool mappingValid = false;

    CGaussRandomGenerator spatialNoise;
    CGaussRandomGenerator temporalNoise;

    std::string exportFile = "temp.txt";

    int inputWidth = 0;
    int inputHeight = 0;
    bool runMode = false;
    bool runEnd = false;

    // Registers.
    double mean = 0, totalNoiseRms = 0, tempNoiseRms = 0, spatialNoiseRms = 0;
    int32_t totalNoisePp = 0, tempNoisePp = 0, spatialNoisePp = 0;
    int32_t noiseMode = 0;
    int32_t subSampling = 0;
    int32_t totalNoiseMethod = 0;
    double fftFullNoise = 0, fftWhiteNoise = 0, fftNonWhiteCoefficient = 0;
    int32_t view = 1;
    int32_t margin = 0;
    int32_t maxMargin = 0;
    int32_t selectedX = 0;
    int32_t selectedY = 0;
    int32_t extentX = 0;
    int32_t extentY = 0;
    double selectedValue = 0;
    double selectedPeriod = 0;
    int32_t averaging = 0;
    int32_t deviationThreshold = 10;
    int32_t deviationCount = 0;
    int32_t framesMeasured = 0;
    double median = 0;
    double samplingScale = 0;
    int32_t windowFunction = 0;
    double peakFactor = 1.25;
    int32_t windowOption = 0;
    int32_t windowSize = 10;
    int32_t maxWindowSize = 10;
    int32_t displayOffset = 0;
    int32_t displayShift = 0;
    int32_t filterMode = 0;
    int32_t filterDepth = 30;
    int32_t applyReference1 = 0;
    int32_t darkPedestal = 50;
    int32_t applyReference2 = 0;
    int32_t filterCount = 0;
    int32_t framesLeft = -1;
    int32_t reserved113 = 5;
    int32_t autoExport = 0;
};

} // namespace Tav
