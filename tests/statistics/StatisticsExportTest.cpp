#include "StatisticsExport.h"

#include "Common/Exception.h"
#include "Platform/MessageBox.h"
#include "StatisticsExportSupport.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QEventLoop>
#include <QMetaObject>

#include <climits>
#include <clocale>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

using namespace Tav;

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Expected(const std::string& name)
{
    std::string path = std::string(TAV_STATISTICS_TEST_DATA) + "/" + name + ".txt";
    std::ifstream probe(path);
    EXPECT_TRUE(probe.good()) << "missing " << path;
    return ReadFile(path);
}

const std::vector<double> lineValues{0, 12.5, -1, 255, 3.25};
const std::vector<double> amplitude{10, 1.5, 2.25, 0.125, 4};
const std::vector<double> coherent{9, 1, 2, 0.1, 3.5};

CStatisticsExportData Measures(int view)
{
    CStatisticsExportData d;
    d.view = view;
    d.mean = 127.25;
    d.totalNoiseRms = 3.5;
    d.tempNoiseRms = 2.125;
    d.spatialNoiseRms = -1.0;
    d.totalNoisePp = 24;
    d.tempNoisePp = 17;
    d.spatialNoisePp = 7;
    d.fftFullNoise = 0.75;
    d.fftWhiteNoise = 0.5;
    d.fftNonWhiteCoefficient = 2.25;
    return d;
}

// The cases the expected files in data/ were made for, by file name stem.
std::map<std::string, CStatisticsExportData> Cases()
{
    std::map<std::string, CStatisticsExportData> cases;
    CStatisticsExportData d;
    d.view = 1;
    d.values = lineValues;
    cases["lineview_h"] = d;
    d.view = 8;
    cases["lineview_v"] = d;

    d = {};
    d.view = 3;
    d.transformLength = 4;
    d.values = amplitude;
    d.values2 = coherent;
    cases["fft_h"] = d;
    d.selectedBin = 3;
    cases["fft_h_bin"] = d;
    d.view = 6;
    d.selectedBin = 0;
    d.samplingScale = 10.0;
    cases["fft_v_scale"] = d;

    d = {};
    d.view = 9;
    d.displayShift = -2;
    for (int i = 0; i < 256; ++i)
        d.values.push_back(i % 5 == 0 ? 0.0 : i * 2.0);
    cases["hist"] = d;
    d = {};
    d.view = 10;
    d.displayShift = 1;
    d.displayOffset = 10;
    for (int i = 0; i < 256; ++i)
        d.values.push_back(i % 3 == 0 ? -1.0 : i / 100.0);
    cases["loghist"] = d;

    d = {};
    d.view = 12;
    d.values = {1.5, 2, 100.75};
    d.values2 = {0.5, 0, 12.125};
    cases["linescan"] = d;

    cases["measures"] = Measures(0);
    cases["measures_fft"] = Measures(7);
    return cases;
}

struct Box {
    std::string text;
    std::string caption;
    Platform::MessageBoxIcon icon;
};

Platform::MessageBoxAnswer RecordBox(const Platform::MessageBoxRequest& r, void* context)
{
    static_cast<std::vector<Box>*>(context)->push_back({r.text, r.caption, r.icon});
    return Platform::MessageBoxAnswer::Ok;
}

class StatisticsExportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("TAV_UNATTENDED");
        previous = Platform::SetMessageBoxHost(&RecordBox, &boxes, &previousContext);
    }
    void TearDown() override
    {
        Platform::SetMessageBoxHost(previous, previousContext);
        unsetenv("LC_ALL");
        unsetenv("LC_NUMERIC");
    }

    std::vector<Box> boxes;
    Platform::MessageBoxHost previous = nullptr;
    void* previousContext = nullptr;
};

} // namespace

TEST_F(StatisticsExportTest, EveryViewAndTypeMatchesItsExpectedText)
{
    for (const auto& [name, data] : Cases()) {
        for (int type = 0; type < 3; ++type) {
            std::string stem = name + "_" + std::to_string(type);
            EXPECT_EQ(BuildStatisticsExportText(data, type), Expected(stem)) << stem;
        }
    }
}

TEST_F(StatisticsExportTest, ViewsWithTheSameSectionShareTheirText)
{
    auto cases = Cases();
    CStatisticsExportData d = cases["lineview_h"];
    d.view = 5;
    EXPECT_EQ(BuildStatisticsExportText(d, 2), Expected("lineview_h_2"));
    d.view = 2;
    EXPECT_EQ(BuildStatisticsExportText(d, 0), Expected("lineview_v_0"));
    d = Measures(4);
    EXPECT_EQ(BuildStatisticsExportText(d, 1), Expected("measures_fft_1"));
}

TEST_F(StatisticsExportTest, NothingForViewElevenUnknownViewsAndTypes)
{
    CStatisticsExportData d = Cases()["lineview_h"];
    for (int view : {11, 13, -1}) {
        d.view = view;
        for (int type = 0; type < 3; ++type)
            EXPECT_EQ(BuildStatisticsExportText(d, type), "") << view << " " << type;
    }
    d.view = 1;
    EXPECT_EQ(BuildStatisticsExportText(d, 3), "");
    EXPECT_EQ(BuildStatisticsExportText(d, -1), "");

    std::string dir = TavTest::MakeTempDirectory();
    d.view = 11;
    ExportStatistics(d, 2, dir + "/none.txt");
    EXPECT_FALSE(std::ifstream(dir + "/none.txt").good());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(StatisticsExportTest, ShortSecondColumnsLeaveEmptyFields)
{
    CStatisticsExportData d;
    d.view = 12;
    d.values = {1, 2};
    d.values2 = {0.5};
    EXPECT_EQ(BuildStatisticsExportText(d, 1), "Mean\tStdDev\t(insert here)\n1.000000\t0.500000\n2.000000\t\n");
}

TEST_F(StatisticsExportTest, ExtremeDisplayShiftsDoNotOverflow)
{
    CStatisticsExportData d;
    d.view = 9;
    d.displayShift = 70;
    d.displayOffset = -3;
    std::string text = BuildStatisticsExportText(d, 0);
    EXPECT_NE(text.find("\n-3\n"), std::string::npos);
    d.displayShift = -70;
    d.displayOffset = 5;
    text = BuildStatisticsExportText(d, 0);
    EXPECT_NE(text.find("(insert here)\n5\n" + std::to_string(LONG_MAX) + "\n"), std::string::npos);
}

TEST_F(StatisticsExportTest, TypeTwoReplacesTheExportFile)
{
    std::string path = TavTest::MakeTempDirectory() + "/temp.txt";
    TavTest::WriteFile(path, std::string(10000, 'x'));
    CStatisticsExportData d = Cases()["linescan"];
    ExportStatistics(d, 2, path);
    EXPECT_EQ(ReadFile(path), Expected("linescan_2"));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(StatisticsExportTest, FileThatCannotBeCreatedOrWrittenShowsTheBox)
{
    CStatisticsExportData d = Cases()["measures"];
    std::string path = TavTest::MakeTempDirectory() + "/missing/folder/temp.txt";
    ExportStatistics(d, 2, path);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Cannot create file " + path);
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].icon, Platform::MessageBoxIcon::Error);

    // The data reach the full device only when the file is closed.
    EXPECT_FALSE(WriteStatisticsExportFile(BuildStatisticsExportText(d, 2), "/dev/full"));
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, "Cannot create file /dev/full");
}

TEST_F(StatisticsExportTest, DecimalSeparatorComesFromTheUserLocale)
{
    setenv("LC_ALL", "C", 1);
    EXPECT_EQ(UserDecimalSeparator(), '.');
    std::string why;
    if (!StatisticsTest::EnsureGermanLocale(why))
        GTEST_SKIP() << why;
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    EXPECT_EQ(UserDecimalSeparator(), ',');
    EXPECT_EQ(UserDecimalSeparatorText(), ",");
    unsetenv("LC_ALL");
    setenv("LC_NUMERIC", "de_DE.UTF-8", 1);
    EXPECT_EQ(UserDecimalSeparator(), ',');
    EXPECT_EQ(ReplaceDecimalPoints("1.5\t2.25\n", "\xD9\xAB"), "1\xD9\xAB" "5\t2\xD9\xAB" "25\n");
}

TEST_F(StatisticsExportTest, NumbersUseAPointWhateverTheProcessLocale)
{
    std::string why;
    if (!StatisticsTest::EnsureGermanLocale(why))
        GTEST_SKIP() << why;
    std::string old = std::setlocale(LC_NUMERIC, nullptr);
    ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr);
    char probe[32];
    std::snprintf(probe, sizeof probe, "%f", 1.5);
    EXPECT_STREQ(probe, "1,500000"); // the locale is really in force
    std::string text = BuildStatisticsExportText(Cases()["fft_h_bin"], 2);
    std::setlocale(LC_NUMERIC, old.c_str());
    EXPECT_EQ(text, Expected("fft_h_bin_2"));
}

class StatisticsExportClipboardTest : public StatisticsExportTest {
protected:
    void SetUp() override
    {
        StatisticsExportTest::SetUp();
        StatisticsTest::App();
        QGuiApplication::clipboard()->setText("old");
    }
    static std::string Clipboard() { return QGuiApplication::clipboard()->text().toStdString(); }
};

TEST_F(StatisticsExportClipboardTest, ColumnsGoToTheClipboardWithTheUserSeparator)
{
    setenv("LC_ALL", "C", 1);
    CStatisticsExportData d = Cases()["lineview_h"];
    ExportStatistics(d, 0, "unused.txt");
    EXPECT_EQ(Clipboard(), Expected("lineview_h_0"));

    std::string why;
    if (!StatisticsTest::EnsureGermanLocale(why))
        GTEST_SKIP() << why;
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    ExportStatistics(d, 1, "unused.txt");
    EXPECT_EQ(Clipboard(), "Amplitude\t(insert here)\n0,000000\n12,500000\n\n255,000000\n3,250000\n");
    // The header's period is a number too.
    d = Cases()["fft_h_bin"];
    ExportStatistics(d, 1, "unused.txt");
    EXPECT_EQ(Clipboard().substr(0, 58), "Amplitude\tCoherent Amplitude (Period = 2,666667)\t(insert h");
}

TEST_F(StatisticsExportClipboardTest, TypeTwoLeavesTheClipboardAlone)
{
    std::string path = TavTest::MakeTempDirectory() + "/t.txt";
    ExportStatistics(Cases()["measures"], 2, path);
    EXPECT_EQ(Clipboard(), "old");
    ExportStatistics(Cases()["measures"], 7, path);
    EXPECT_EQ(Clipboard(), "old");
}

TEST_F(StatisticsExportClipboardTest, ExportFromAnotherThreadRunsOnTheGuiThread)
{
    setenv("LC_ALL", "C", 1);
    QEventLoop loop;
    std::string failure;
    std::thread writer([&] {
        try {
            ExportStatistics(Cases()["measures"], 1, "");
        } catch (const CException& e) {
            failure = e.GetDescription();
        }
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    loop.exec();
    writer.join();
    EXPECT_EQ(failure, "");
    EXPECT_EQ(Clipboard(), Expected("measures_1"));
}
