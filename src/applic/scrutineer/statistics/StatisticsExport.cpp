#include "StatisticsExport.h"

#include "StatisticsGuiThread.h"

#include "Common/Exception.h"
#include "Platform/MessageBox.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QString>

#include <langinfo.h>
#include <locale.h>

#include <climits>
#include <cstdarg>
#include <cstdio>

namespace Tav {

namespace {

// The "C" numeric conventions for this thread while it formats: Qt sets the
// process locale from the user's environment, and "%f" would follow it.
class CCNumericScope {
public:
    CCNumericScope()
    {
        static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
        if (c)
            previous = uselocale(c);
    }
    ~CCNumericScope()
    {
        if (previous)
            uselocale(previous);
    }
    CCNumericScope(const CCNumericScope&) = delete;
    CCNumericScope& operator=(const CCNumericScope&) = delete;

private:
    locale_t previous = static_cast<locale_t>(0);
};

class CExportText {
public:
    void Text(const char* text) { out += text; }

    void Format(const char* format, ...) __attribute__((format(printf, 2, 3)))
    {
        char buffer[512];
        va_list args;
        va_start(args, format);
        int n = std::vsnprintf(buffer, sizeof buffer, format, args);
        va_end(args);
        if (n < 0)
            return;
        if (static_cast<size_t>(n) < sizeof buffer) {
            out.append(buffer, static_cast<size_t>(n));
            return;
        }
        // Only huge reals ("%f" of 1e300) get here.
        std::string big(static_cast<size_t>(n) + 1, '\0');
        va_start(args, format);
        std::vsnprintf(big.data(), big.size(), format, args);
        va_end(args);
        big.resize(static_cast<size_t>(n));
        out += big;
    }

    void Int(long value, const char* end) { Format("%ld%s", value, end); }
    void Real(double value, const char* end) { Format("%f%s", value, end); }
    // Line-view and histogram values: negative ones are left empty.
    void Value(double value, const char* end)
    {
        if (value < 0)
            Text(end);
        else
            Real(value, end);
    }
    // A column that may be shorter than the one it is paired with.
    void Optional(const std::vector<double>& column, size_t i, const char* end)
    {
        if (i < column.size())
            Real(column[i], end);
        else
            Text(end);
    }

    std::string Take() { return std::move(out); }

private:
    std::string out;
};

// Period (or, with a sampling scale, frequency) of spectral bin i.
double Period(const CStatisticsExportData& data, long i)
{
    const double n = static_cast<double>(data.transformLength);
    if (data.samplingScale > 1e-6)
        return data.samplingScale * static_cast<double>(i) * 0.5 / n;
    return 2.0 * n / static_cast<double>(i);
}

// Grey value of histogram bin i: the display mapping undone. Saturates
// instead of overflowing for shifts no display uses.
long GreyValue(const CStatisticsExportData& data, long i)
{
    const int shift = data.displayShift;
    __int128 grey = i;
    if (shift < 0)
        grey = -shift >= 64 ? (i ? __int128(LONG_MAX) : 0) : grey << -shift;
    else
        grey = shift >= 64 ? 0 : grey >> shift;
    grey += data.displayOffset;
    if (grey > LONG_MAX)
        return LONG_MAX;
    if (grey < LONG_MIN)
        return LONG_MIN;
    return static_cast<long>(grey);
}

void LineView(CExportText& t, const CStatisticsExportData& data, int type, bool horizontal)
{
    const std::vector<double>& v = data.values;
    switch (type) {
    case 0:
        t.Text(horizontal ? "Horizontal Lineview\n\n" : "Vertical Lineview\n\n");
        t.Text(horizontal ? "X coordinate\t(insert here)\n" : "Amplitude\t(insert here)\n");
        for (size_t i = 0; i < v.size(); ++i)
            t.Int(static_cast<long>(i), "\n");
        break;
    case 1:
        t.Text("Amplitude\t(insert here)\n");
        for (double value : v)
            t.Value(value, "\n");
        break;
    case 2:
        t.Text(horizontal ? "X-Coordinate\tAmplitude\n" : "Y-Coordinate\tAmplitude\n");
        for (size_t i = 0; i < v.size(); ++i) {
            t.Int(static_cast<long>(i), "\t");
            t.Value(v[i], "\n");
        }
        break;
    }
}

void Spectrum(CExportText& t, const CStatisticsExportData& data, int type, bool horizontal)
{
    const std::vector<double>& amplitude = data.values;
    const bool coherent = data.selectedBin >= 1;
    switch (type) {
    case 0:
        t.Text(horizontal ? "Horizontal FFT\n\n" : "Vertical FFT\n\n");
        t.Text("Period Length\t(insert here)\n");
        t.Text("infinite\n");
        for (long i = 1; i <= data.transformLength; ++i)
            t.Real(Period(data, i), "\n");
        break;
    case 1:
        if (!coherent) {
            t.Text("Amplitude\n");
            for (double value : amplitude)
                t.Real(value, "\n");
            break;
        }
        t.Format("Amplitude\tCoherent Amplitude (Period = %f)\t(insert here)\n",
                 2.0 * static_cast<double>(data.transformLength) / static_cast<double>(data.selectedBin));
        for (size_t i = 0; i < amplitude.size(); ++i) {
            t.Real(amplitude[i], "\t");
            t.Optional(data.values2, i, "\n");
        }
        break;
    case 2:
        t.Text(coherent ? "Period Length\tAmplitude\tCoherent Amplitude\n" : "Period Length\tAmplitude\n");
        for (size_t i = 0; i < amplitude.size(); ++i) {
            if (i == 0)
                t.Text("infinite\t");
            else
                t.Real(Period(data, static_cast<long>(i)), "\t");
            if (coherent) {
                t.Real(amplitude[i], "\t");
                t.Optional(data.values2, i, "\n");
            } else {
                t.Real(amplitude[i], "\n");
            }
        }
        break;
    }
}

void Histogram(CExportText& t, const CStatisticsExportData& data, int type, bool logarithmic)
{
    const std::vector<double>& counts = data.values;
    switch (type) {
    case 0:
        t.Text(logarithmic ? "Log Histogram\n\n" : "Histogram\n\n");
        t.Text("Grey Values\t(insert here)\n");
        for (long i = 0; i <= 255; ++i)
            t.Int(GreyValue(data, i), "\n");
        break;
    case 1:
        t.Text(logarithmic ? "log10 Number of Pixles\t(insert here)\n" : "Number of Pixles\t(insert here)\n");
        for (double count : counts)
            t.Value(count, "\n");
        break;
    case 2:
        t.Text(logarithmic ? "Grey Values\tlog10 Number of Pixles\n" : "Grey Values\tNumber of Pixles\n");
        for (size_t i = 0; i < counts.size(); ++i) {
            t.Int(GreyValue(data, static_cast<long>(i)), "\t");
            t.Value(counts[i], "\n");
        }
        break;
    }
}

void LineScan(CExportText& t, const CStatisticsExportData& data, int type)
{
    const std::vector<double>& mean = data.values;
    switch (type) {
    case 0:
        t.Text("LineScan View\n\n");
        t.Text("X coordinate\t(insert here)\n");
        for (size_t i = 0; i < mean.size(); ++i)
            t.Int(static_cast<long>(i), "\n");
        break;
    case 1:
        t.Text("Mean\tStdDev\t(insert here)\n");
        for (size_t i = 0; i < mean.size(); ++i) {
            t.Real(mean[i], "\t");
            t.Optional(data.values2, i, "\n");
        }
        break;
    case 2:
        t.Text("X-Coordinate\tMean\tStdDev\n");
        for (size_t i = 0; i < mean.size(); ++i) {
            t.Int(static_cast<long>(i), "\t");
            t.Real(mean[i], "\t");
            t.Optional(data.values2, i, "\n");
        }
        break;
    }
}

void Measures(CExportText& t, const CStatisticsExportData& data, int type)
{
    // Views 4 and 7 compute the spectral figures; view 0 does not.
    const bool spectral = data.view == 4 || data.view == 7;
    switch (type) {
    case 0:
        t.Text("Statistics Measures\n\n");
        t.Text("Measure\t(insert here)\n");
        t.Text("Mean\nTotalNoise_rms\nTempNoise_rms\nSpatialNoise_rms\n"
               "TotalNoise_pp\nTempNoise_pp\nSpatialNoise_pp\n"
               "FFTFullNoise\nFFTWhiteNoise\nFFTNonWhiteCoefficient\n");
        break;
    case 1:
        t.Text("Value\t(insert here)\n");
        t.Real(data.mean, "\n");
        t.Real(data.totalNoiseRms, "\n");
        t.Real(data.tempNoiseRms, "\n");
        t.Real(data.spatialNoiseRms, "\n");
        t.Int(data.totalNoisePp, "\n");
        t.Int(data.tempNoisePp, "\n");
        t.Int(data.spatialNoisePp, "\n");
        if (spectral) {
            t.Real(data.fftFullNoise, "\n");
            t.Real(data.fftWhiteNoise, "\n");
            t.Real(data.fftNonWhiteCoefficient, "\n");
        } else {
            t.Text("--\n--\n--\n");
        }
        break;
    case 2:
        t.Text("Measure\tValue\n");
        t.Format("Mean\t%f\n", data.mean);
        t.Format("TotalNoise_rms\t%f\n", data.totalNoiseRms);
        t.Format("TempNoise_rms\t%f\n", data.tempNoiseRms);
        t.Format("SpatialNoise_rms\t%f\n", data.spatialNoiseRms);
        t.Format("TotalNoise_pp\t%ld\n", data.totalNoisePp);
        t.Format("TempNoise_pp\t%ld\n", data.tempNoisePp);
        t.Format("SpatialNoise_pp\t%ld\n", data.spatialNoisePp);
        if (spectral) {
            t.Format("FFTFullNoise\t%f\n", data.fftFullNoise);
            t.Format("FFTWhiteNoise\t%f\n", data.fftWhiteNoise);
            t.Format("FFTNonWhiteCoefficient\t%f\n", data.fftNonWhiteCoefficient);
        } else {
            t.Text("FFTFullNoise\t--\nFFTWhiteNoise\t--\nFFTNonWhiteCoefficient\t--\n");
        }
        break;
    }
}

// Length of the UTF-8 sequence starting at `text`, 0 when it is not one.
size_t Utf8SequenceLength(const char* text)
{
    const auto lead = static_cast<unsigned char>(text[0]);
    size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
    for (size_t i = 1; i < length; ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
            return 0;
    return length;
}

} // namespace

std::string BuildStatisticsExportText(const CStatisticsExportData& data, int type)
{
    if (type < 0 || type > 2)
        return {};
    CCNumericScope cNumbers;
    CExportText text;
    switch (data.view) {
    case 1:
    case 5:
        LineView(text, data, type, true);
        break;
    case 2:
    case 8:
        LineView(text, data, type, false);
        break;
    case 3:
        Spectrum(text, data, type, true);
        break;
    case 6:
        Spectrum(text, data, type, false);
        break;
    case 9:
        Histogram(text, data, type, false);
        break;
    case 10:
        Histogram(text, data, type, true);
        break;
    case 12:
        LineScan(text, data, type);
        break;
    case 0:
    case 4:
    case 7:
        Measures(text, data, type);
        break;
    default: // 11 and unknown views have no export
        break;
    }
    return text.Take();
}

std::string UserDecimalSeparatorText()
{
    // Read from the environment on every call, without touching the
    // process locale.
    locale_t user = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
    if (!user)
        return ".";
    std::string separator = ".";
    const char* radix = nl_langinfo_l(RADIXCHAR, user);
    if (radix && radix[0]) {
        if (size_t length = Utf8SequenceLength(radix))
            separator.assign(radix, length);
    }
    freelocale(user);
    return separator;
}

char UserDecimalSeparator()
{
    std::string separator = UserDecimalSeparatorText();
    return separator.size() == 1 ? separator[0] : '.';
}

std::string ReplaceDecimalPoints(const std::string& text, const std::string& separator)
{
    if (separator == ".")
        return text;
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '.')
            out += separator;
        else
            out += c;
    }
    return out;
}

void PutTextOnClipboard(const std::string& text)
{
    const QString qtext = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    bool set = false;
    // The clipboard belongs to the GUI thread; register writes come from others.
    RunOnStatisticsGuiThread([&] {
        if (QClipboard* clipboard = QGuiApplication::clipboard()) {
            clipboard->setText(qtext);
            set = true;
        }
    });
    if (!set)
        throw CCommonException(0xCEF00001, __LINE__, "StatisticsExport.cpp", "No clipboard is available.");
}

bool WriteStatisticsExportFile(const std::string& text, const std::string& fileName)
{
    std::FILE* file = fileName.empty() ? nullptr : std::fopen(fileName.c_str(), "w");
    bool written = false;
    if (file) {
        written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
        // Buffered data meets a full disk only here.
        written = std::fclose(file) == 0 && written;
    }
    if (!written) {
        const std::string message = "Cannot create file " + fileName;
        Platform::MessageBoxRequest box;
        box.text = message.c_str();
        box.caption = "Error";
        box.icon = Platform::MessageBoxIcon::Error;
        Platform::ShowMessageBox(box);
    }
    return written;
}

void ExportStatistics(const CStatisticsExportData& data, int type, const std::string& exportFile)
{
    if (type < 0 || type > 2)
        return;
    const std::string text = BuildStatisticsExportText(data, type);
    if (text.empty())
        return;
    if (type == 2)
        WriteStatisticsExportFile(text, exportFile);
    else
        PutTextOnClipboard(ReplaceDecimalPoints(text, UserDecimalSeparatorText()));
}

} // namespace Tav
