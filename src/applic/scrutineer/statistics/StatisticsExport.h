#pragma once

#include <string>
#include <vector>

namespace Tav {

// What an export needs of the statistics module's current view.
struct CStatisticsExportData {
    int view = 1;                  // register 16
    std::vector<double> values;    // line view, amplitude spectrum (bins 0..N), histogram (256 bins) or line-scan mean
    std::vector<double> values2;   // coherent amplitude (spectrum views) or line-scan standard deviation
    long transformLength = 0;      // N of the exported direction (spectrum views)
    long selectedBin = 0;          // register 19 (horizontal views) or 20 (vertical views)
    double samplingScale = 0.0;    // register 37
    int displayOffset = 0;         // register 84
    int displayShift = 0;          // register 85
    double mean = 0.0;
    double totalNoiseRms = 0.0;
    double tempNoiseRms = 0.0;
    double spatialNoiseRms = 0.0;
    long totalNoisePp = 0;
    long tempNoisePp = 0;
    long spatialNoisePp = 0;
    double fftFullNoise = 0.0;
    double fftWhiteNoise = 0.0;
    double fftNonWhiteCoefficient = 0.0;
};

// The text of export type 0, 1 or 2 of data.view; empty where nothing is exported.
std::string BuildStatisticsExportText(const CStatisticsExportData& data, int type);

// Builds the text and delivers it: types 0 and 1 to the clipboard with the
// user's decimal separator, type 2 to exportFile; other types do nothing.
void ExportStatistics(const CStatisticsExportData& data, int type, const std::string& exportFile);

// The first character of the user's decimal separator.
char UserDecimalSeparator();

// The first character of the user's decimal separator as UTF-8, which may
// take more than one byte; "." when the user's numeric locale is unknown.
// UserDecimalSeparator gives '.' for a separator that is not one byte.
std::string UserDecimalSeparatorText();

// `text` with every '.' replaced by `separator`.
std::string ReplaceDecimalPoints(const std::string& text, const std::string& separator);

// Delivery steps of ExportStatistics, each usable alone.
// Plain text on the clipboard, set on the GUI thread; throws CCommonException
// 0xCEF00001 when there is no GUI application with a clipboard.
void PutTextOnClipboard(const std::string& text);
// Replaces `fileName` with `text`. False, after showing the box
// "Cannot create file <name>", when the file cannot be created or not be
// written in full (a partly written file is left for the user to see).
bool WriteStatisticsExportFile(const std::string& text, const std::string& fileName);

} // namespace Tav
