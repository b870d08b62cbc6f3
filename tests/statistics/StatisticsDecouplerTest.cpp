#include "StatisticsDecoupler.h"

#include "Dib.h"
#include "ObjectFactory.h"
#include "StatisticsExportSupport.h"

#include "Core/ErrorChunk.h"
#include "Core/ModuleLinker.h"
#include "Core/RegisterRequest.h"
#include "DataBuffer/Guid.h"
#include "DataBuffer/ImageChunk.h"
#include "DataBuffer/Packet.h"
#include "DataBuffer/RtlHeapAllocator.h"
#include "DataBuffer/ValueChunk.h"
#include "Platform/Event.h"
#include "Platform/Waitable.h"

#include "support/TestModules.h"
#include "support/TestPackets.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QMetaObject>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

using namespace Tav;
using namespace TavTest;

namespace {

// What left the decoupler, in order: port 1 packets by sequence number,
// refresh packets on port 3 as -99.
class Log {
public:
    void Add(int64_t value)
    {
        std::lock_guard<std::mutex> guard(mutex);
        values.push_back(value);
        changed.notify_all();
    }
    std::vector<int64_t> WaitFor(size_t count)
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(10), [&] { return values.size() >= count; });
        return values;
    }
    std::vector<int64_t> Now()
    {
        std::lock_guard<std::mutex> guard(mutex);
        return values;
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int64_t> values;
};

using Values = std::vector<int64_t>;
constexpr int64_t Refresh = -99;

// Producer -> statistics decoupler -> consumer (port 1) and refresh sink
// (port 3), errors collected. The consumer can be held inside a delivery.
struct Graph {
    TestSource source;
    CStatisticsDecoupler decoupler;
    CollectingSink consumer, refreshes, errors;
    CModuleLinker linker;
    Log sent;
    std::mutex errorMutex;
    std::vector<CErrorChunkContent> errorContents;
    Log errorCount;
    Platform::Event entered{true, false}, release{true, true};
    std::function<void(int64_t)> consumerAction;
    CSmartPointer<IPacket> lastForwarded;

    Graph()
    {
        source.Initialize("Source", nullptr);
        decoupler.Initialize("StatisticsDecoupler", nullptr);
        consumer.Initialize("Consumer", nullptr);
        refreshes.Initialize("Refreshes", nullptr);
        errors.Initialize("Errors", nullptr);
        consumer.keepPackets = false;
        refreshes.keepPackets = false;
        refreshes.inputPorts = {3};
        consumer.onData = [this](int, const CSmartPointer<IPacket>& p) {
            entered.Set();
            Platform::WaitForSingleObject(release, 10000);
            lastForwarded = p;
            if (consumerAction)
                consumerAction(p->GetSequenceNumber());
            sent.Add(p->GetSequenceNumber());
        };
        refreshes.onData = [this](int, const CSmartPointer<IPacket>& p) {
            CChunkPtr<CChunk> chunk;
            p->FindChunk(chunk, GUID_RefreshChunk);
            sent.Add(chunk.IsNull() ? -1 : -int64_t(ReadChunkValue(chunk)));
        };
        errors.onData = [this](int, const CSmartPointer<IPacket>& p) {
            CChunkPtr<CChunk> chunk;
            p->FindChunk(chunk, GUID_ErrorChunk);
            {
                std::lock_guard<std::mutex> guard(errorMutex);
                errorContents.push_back(ReadErrorChunk(chunk));
            }
            errorCount.Add(1);
        };
        linker.Link(&source, 1, &decoupler, 1);
        linker.Link(&decoupler, 1, &consumer, 1);
        linker.Link(&decoupler, 3, &refreshes, 3);
        linker.Link(&decoupler, 0, &errors, 1);
        decoupler.Start();
    }
    ~Graph()
    {
        release.Set();
        linker.UnlinkAll();
        decoupler.Deinitialize();
    }

    // Sends `first` and returns once the consumer is held inside it.
    void HoldConsumerIn(const CSmartPointer<IPacket>& first)
    {
        release.Reset();
        entered.Reset();
        source.Emit(first);
        ASSERT_EQ(Platform::WaitForSingleObject(entered, 10000), Platform::WaitObject0);
    }
    // Sends one packet and waits until it (or what replaces it) is out.
    void Pass(const CSmartPointer<IPacket>& packet)
    {
        size_t before = sent.Now().size();
        source.Emit(packet);
        sent.WaitFor(before + 2);
    }

    uint32_t ReadRegister(uint64_t address)
    {
        uint32_t value = 0xDEADBEEF;
        decoupler.Read(address, &value, 4);
        return value;
    }
    void WriteRegister(uint64_t address, int32_t value) { decoupler.Write(address, &value, 4); }
};

template <class F>
CException Caught(F&& f)
{
    try {
        f();
    } catch (const CException& e) {
        return e;
    }
    ADD_FAILURE() << "no exception";
    return CException();
}

CSmartPointer<IPacket> MakeMono16Packet(int64_t sequence)
{
    CChunkPtr<CImageChunk> image = CreateImageChunkBuffer(0, 0, 8, 8, GetDefaultAllocator(), PixelTypeMono16);
    int size = 0;
    std::memset(image.LockData(&size), 0, size_t(size));
    image.UnlockData();
    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(image.GetBuffer().Get());
    packet->SetSequenceNumber(sequence);
    return packet;
}

// Pixel (x, y) of the first image chunk of `packet`, y counted from the
// picture's top whichever way the lines are stored.
int PixelAt(const CSmartPointer<IPacket>& packet, int x, int y)
{
    CChunkPtr<CImageChunk> image = FindTypedChunk<CImageChunk>(*packet, GUID_ImageChunk);
    const CImageChunk header = *image;
    int size = 0;
    auto* pixels = static_cast<const uint8_t*>(image.LockData(&size));
    const int stride = std::abs(header.pitch);
    const int line = header.pitch < 0 ? header.height - 1 - y : y;
    int value = pixels[line * stride + x];
    image.UnlockData();
    return value;
}

uint8_t Pattern(int x, int y) { return uint8_t(x * 16 + y * 3 + 1); }

// A bitmap file of Pattern pixels: 8 bits grey, 8 bits with a colour
// palette, or 24 bits (Pattern in the blue bytes).
enum class BmpKind { Grey, ColourPalette, Rgb };
void WriteBmp(const std::string& path, int width, int height, BmpKind kind = BmpKind::Grey)
{
    const int bits = kind == BmpKind::Rgb ? 24 : 8;
    Jel::CDibPtr dib = Jel::CDib::Create(width, height, bits, true, kind == BmpKind::Grey ? 1 : 0);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = dib->GetPixels() + size_t(y) * size_t(dib->GetBytesPerLine());
        for (int x = 0; x < width; ++x)
            row[x * bits / 8] = Pattern(x, y);
    }
    dib->SaveBMP(path);
}

// Dialogs answer with TAV_DIALOG_FILE, boxes go to standard error.
class StatisticsDecouplerCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("TAV_UNATTENDED", "1", 1);
        dir = MakeTempDirectory();
    }
    void TearDown() override
    {
        unsetenv("TAV_DIALOG_FILE");
        unsetenv("TAV_UNATTENDED");
    }
    void Choose(const std::string& path) { setenv("TAV_DIALOG_FILE", path.c_str(), 1); }
    // Runs `command`; returns what it wrote to standard error (the boxes).
    template <class F>
    std::string Boxes(F&& command)
    {
        testing::internal::CaptureStderr();
        command();
        return testing::internal::GetCapturedStderr();
    }
    std::string dir;
};

} // namespace

TEST(StatisticsDecoupler, OnlyTheNewestOfThreeImagesWaitsWhileBusy)
{
    Graph g;
    g.HoldConsumerIn(MakeImagePacket(1));
    for (int i = 2; i <= 4; ++i)
        g.source.Emit(MakeImagePacket(i));
    EXPECT_EQ(g.decoupler.GetQueueLength(), 1u);
    EXPECT_FALSE(g.decoupler.Enqueue(MakeTextPacket("neither image nor marker")));
    EXPECT_EQ(g.decoupler.GetQueueLength(), 1u);
    g.release.Set();
    // A refresh goes out in front of every forwarded packet.
    EXPECT_EQ(g.sent.WaitFor(4), (Values{Refresh, 1, Refresh, 4}));
    EXPECT_EQ(g.decoupler.GetQueueLength(), 0u);
}

TEST(StatisticsDecoupler, MarkersAreNeverDroppedAndABacklogOfThemFlushesTheQueue)
{
    Graph g;
    g.HoldConsumerIn(MakeImagePacket(1));
    g.source.Emit(MakeMarkerPacket(10, 0));
    g.source.Emit(MakeImagePacket(11));
    g.source.Emit(MakeImagePacket(12)); // replaces 11, not the marker
    EXPECT_EQ(g.decoupler.GetQueueLength(), 2u);
    g.source.Emit(MakeMarkerPacket(13, 1));
    EXPECT_EQ(g.decoupler.GetQueueLength(), 3u);
    g.source.Emit(MakeMarkerPacket(14, 0)); // two markers waiting: flush
    EXPECT_EQ(g.decoupler.GetQueueLength(), 1u);
    g.release.Set();
    EXPECT_EQ(g.sent.WaitFor(4), (Values{Refresh, 1, Refresh, 14}));
    EXPECT_EQ(g.decoupler.GetRunMode(), 1);

    // One waiting marker is not a backlog; an image behind it stays too.
    g.HoldConsumerIn(MakeImagePacket(20));
    g.source.Emit(MakeMarkerPacket(21, 1));
    g.source.Emit(MakeImagePacket(22));
    g.source.Emit(MakeMarkerPacket(23, 0));
    EXPECT_EQ(g.decoupler.GetQueueLength(), 3u);
    g.release.Set();
    Values sent = g.sent.WaitFor(12);
    EXPECT_EQ(Values(sent.begin() + 4, sent.end()), (Values{Refresh, 20, Refresh, 21, Refresh, 22, Refresh, 23}));
    EXPECT_EQ(g.decoupler.GetRunMode(), 1);
}

TEST(StatisticsDecoupler, FreezeWithNothingStoredStoresAndForwardsTheFirstImage)
{
    Graph g;
    g.WriteRegister(CStatisticsDecoupler::RegisterSourceMode, CStatisticsDecoupler::SourceFreeze);
    EXPECT_EQ(g.ReadRegister(CStatisticsDecoupler::RegisterSourceMode), 2u);
    g.Pass(MakeImagePacket(5));
    CSmartPointer<IPacket> first = g.decoupler.GetStoredPacket();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->GetSequenceNumber(), 5);
    // Later images are replaced by the stored one; markers still pass.
    g.Pass(MakeImagePacket(6));
    g.Pass(MakeMarkerPacket(7, 0));
    g.Pass(MakeImagePacket(8));
    EXPECT_EQ(g.sent.Now(), (Values{Refresh, 5, Refresh, 5, Refresh, 7, Refresh, 5}));
    EXPECT_EQ(g.lastForwarded.Get(), first.Get());
    EXPECT_EQ(g.decoupler.GetStoredPacket().Get(), first.Get());
    EXPECT_EQ(g.ReadRegister(CStatisticsDecoupler::RegisterStatus), 1u | 2u | 4u);

    // Capture mode takes the newest image again.
    g.WriteRegister(CStatisticsDecoupler::RegisterSourceMode, CStatisticsDecoupler::SourceCapture);
    g.Pass(MakeImagePacket(9));
    EXPECT_EQ(g.decoupler.GetStoredPacket()->GetSequenceNumber(), 9);
    EXPECT_EQ(g.ReadRegister(CStatisticsDecoupler::RegisterStatus), 1u | 4u);
}

TEST(StatisticsDecoupler, StatusTellsRunFreezeAndWhetherTheStoredImageCanBeSaved)
{
    Graph g;
    EXPECT_EQ(g.ReadRegister(CStatisticsDecoupler::RegisterStatus), 1u);
    EXPECT_EQ(g.ReadRegister(CStatisticsDecoupler::RegisterSourceMode), 1u);
    g.Pass(MakeMarkerPacket(1, 0));
    EXPECT_EQ(g.ReadRegister(CStatisticsDecoupler::RegisterStatus), 1u) << "run on, but capturing";
    g.WriteRegister(CStatisticsDecoupler::RegisterSourceMode, CStatisticsDecoupler::SourceFreeze);
    EXPECT_EQ(g.ReadRegister(CStatisticsDecoupler::RegisterStatus), 1u | 2u);
    g.Pass(MakeMono16Packet(2));
    EXPECT_EQ(g.ReadRegister(CStatisticsDecoupler::RegisterStatus), 1u | 2u) << "Mono16 cannot be saved";
    g.Pass(MakeMarkerPacket(3, 1));
    EXPECT_EQ(g.ReadRegister(CStatisticsDecoupler::RegisterStatus), 1u);
}

TEST(StatisticsDecoupler, StopDropsTheFrontImageAndTheStoredPacket)
{
    CSmartPointer<CountingAllocator> memory = CountingAllocator::Create();
    Graph g;
    g.Pass(MakeImagePacket(1, 4, 2, memory.Get()));
    EXPECT_EQ(memory->Live(), 1) << "the stored image";
    g.HoldConsumerIn(MakeImagePacket(2, 4, 2, memory.Get()));
    g.source.Emit(MakeImagePacket(3, 4, 2, memory.Get()));
    g.decoupler.Stop(); // the held delivery runs on the thread, outside the sink lock
    EXPECT_EQ(g.decoupler.GetQueueLength(), 0u);
    EXPECT_FALSE(g.decoupler.GetStoredPacket());
    EXPECT_FALSE(g.decoupler.Enqueue(MakeImagePacket(4, 4, 2, memory.Get())));
    g.release.Set();
    g.sent.WaitFor(4);
    g.decoupler.Deinitialize();
    g.lastForwarded = nullptr;
    EXPECT_EQ(memory->Live(), 0);
}

TEST(StatisticsDecoupler, ConsumerErrorsAreReportedAndSendingGoesOn)
{
    Graph g;
    g.consumerAction = [](int64_t sequence) {
        if (sequence == 1)
            throw CCommonException(0xCEF00004, 12, "Consumer.cpp");
        if (sequence == 2)
            throw std::runtime_error("not a framework error");
    };
    g.HoldConsumerIn(MakeImagePacket(1));
    g.source.Emit(MakeImagePacket(2));
    g.release.Set();
    g.errorCount.WaitFor(2);
    std::lock_guard<std::mutex> guard(g.errorMutex);
    ASSERT_EQ(g.errorContents.size(), 2u);
    EXPECT_EQ(g.errorContents[0].code, 0xCEF00004u);
    EXPECT_EQ(g.errorContents[1].code, 0xCEF00000u);
    EXPECT_EQ(g.errorContents[1].file, "StatisticsDecoupler.cpp");
    EXPECT_EQ(g.errorContents[1].line, 273u);
}

TEST(StatisticsDecoupler, RegisterErrorsAndPorts)
{
    Graph g;
    uint32_t value = 0;
    for (uint64_t address : {uint64_t(2), uint64_t(3), uint64_t(4), uint64_t(1) << 32 | 1}) {
        CException e = Caught([&] { g.decoupler.Read(address, &value, 4); });
        EXPECT_EQ(e.GetCode(), 0xCEF00008u) << address;
        EXPECT_EQ(e.GetLine(), 297) << address;
        EXPECT_EQ(e.GetFile(), "StatisticsDecoupler.cpp");
    }
    for (uint64_t address : {uint64_t(0), uint64_t(4), uint64_t(1) << 32 | 1}) {
        CException e = Caught([&] { g.decoupler.Write(address, &value, 4); });
        EXPECT_EQ(e.GetCode(), 0xCEF00008u) << address;
        EXPECT_EQ(e.GetLine(), 323) << address;
    }
    EXPECT_EQ(Caught([&] { g.decoupler.Read(1, &value, 2); }).GetCode(), 0xCEF00006u);
    EXPECT_EQ(Caught([&] { g.decoupler.Write(1, nullptr, 4); }).GetCode(), 0xCEF00006u);
    EXPECT_EQ(g.ReadRegister(1), 1u) << "nothing changed";

    CException signal = Caught([&] { g.decoupler.OnSignal(5); });
    EXPECT_EQ(signal.GetCode(), 0xCEF00000u);
    EXPECT_EQ(signal.GetLine(), 107);
    EXPECT_EQ(signal.GetFile(), "statisticsdecoupler.cpp");

    // Register requests on input port 2; other ports are rejected.
    int32_t freeze = CStatisticsDecoupler::SourceFreeze;
    g.decoupler.Push(2, CRegisterRequest::Write(1, &freeze, 4).GetPacket());
    CRegisterRequest read = CRegisterRequest::Read(1, 4);
    g.decoupler.Push(2, read.GetPacket());
    EXPECT_EQ(read.GetValue<uint32_t>(), 2u);
    EXPECT_THROW(g.decoupler.Push(3, MakeImagePacket(1)), CException);
}

TEST(StatisticsDecoupler, TheLauncherFactoryMakesIt)
{
    CObjectFactory factory;
    std::unique_ptr<IComponent> made(factory.CreateObject("StatisticsDecoupler"));
    EXPECT_NE(dynamic_cast<CStatisticsDecoupler*>(made.get()), nullptr);
}

TEST_F(StatisticsDecouplerCommandTest, A24BitBitmapIsRefusedAndTheStoredImageKept)
{
    Graph g;
    g.Pass(MakeImagePacket(1));
    CSmartPointer<IPacket> before = g.decoupler.GetStoredPacket();
    for (bool colourPalette : {false, true}) {
        WriteBmp(dir + "/colour.bmp", 6, 4, colourPalette ? BmpKind::ColourPalette : BmpKind::Rgb);
        Choose(dir + "/colour.bmp");
        std::string boxes = Boxes([&] { g.WriteRegister(CStatisticsDecoupler::RegisterLoad, 1); });
        EXPECT_EQ(boxes, "[Error while laoding file]\nOnly monochrome images are supported\n\n");
        EXPECT_EQ(g.decoupler.GetStoredPacket().Get(), before.Get());
    }
    EXPECT_EQ(g.sent.Now(), (Values{Refresh, 1})) << "no refresh after a refused file";
}

TEST_F(StatisticsDecouplerCommandTest, LoadedBitmapsKeepTheirRowsWhateverTheWidth)
{
    Graph g;
    for (int width : {5, 6}) {
        WriteBmp(dir + "/odd.bmp", width, 3);
        Choose(dir + "/odd"); // the default extension is added
        EXPECT_EQ(Boxes([&] { g.WriteRegister(CStatisticsDecoupler::RegisterLoad, 1); }), "");
        CSmartPointer<IPacket> stored = g.decoupler.GetStoredPacket();
        ASSERT_TRUE(stored);
        CChunkPtr<CImageChunk> image = FindTypedChunk<CImageChunk>(*stored, GUID_ImageChunk);
        ASSERT_FALSE(image.IsNull());
        EXPECT_EQ(image->pixelType, PixelTypeMono8);
        EXPECT_EQ(image->width, width);
        EXPECT_EQ(image->height, 3);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < width; ++x)
                EXPECT_EQ(PixelAt(stored, x, y), Pattern(x, y)) << x << "," << y << " of " << width;
    }
    EXPECT_EQ(g.sent.Now(), (Values{Refresh, Refresh}));
    EXPECT_EQ(g.ReadRegister(CStatisticsDecoupler::RegisterStatus), 1u | 4u);

    // In freeze mode the loaded image is what the statistics get.
    g.WriteRegister(CStatisticsDecoupler::RegisterSourceMode, CStatisticsDecoupler::SourceFreeze);
    CSmartPointer<IPacket> loaded = g.decoupler.GetStoredPacket();
    g.Pass(MakeImagePacket(1));
    EXPECT_EQ(g.lastForwarded.Get(), loaded.Get());
}

TEST_F(StatisticsDecouplerCommandTest, CancelledOrBrokenLoads)
{
    Graph g;
    g.WriteRegister(CStatisticsDecoupler::RegisterSourceMode, CStatisticsDecoupler::SourceFreeze);
    g.Pass(MakeImagePacket(1));
    CSmartPointer<IPacket> before = g.decoupler.GetStoredPacket();

    unsetenv("TAV_DIALOG_FILE"); // cancel: nothing but a refresh
    EXPECT_EQ(Boxes([&] { g.WriteRegister(CStatisticsDecoupler::RegisterLoad, 1); }), "");
    EXPECT_EQ(g.decoupler.GetStoredPacket().Get(), before.Get());
    EXPECT_EQ(g.sent.Now(), (Values{Refresh, 1, Refresh}));

    WriteFile(dir + "/broken.bmp", "BM not a bitmap");
    Choose(dir + "/broken.bmp");
    std::string boxes = Boxes([&] { g.WriteRegister(CStatisticsDecoupler::RegisterLoad, 1); });
    EXPECT_EQ(boxes.rfind("[Error while laoding file]\n", 0), 0u) << boxes;
    EXPECT_GT(boxes.size(), std::string("[Error while laoding file]\n\n\n").size()) << "the error's text";
    EXPECT_EQ(g.decoupler.GetStoredPacket().Get(), before.Get());
    EXPECT_EQ(g.ReadRegister(CStatisticsDecoupler::RegisterSourceMode), 1u) << "back to live images";
}

TEST_F(StatisticsDecouplerCommandTest, SavedMono8ImageLoadsBackEqual)
{
    Graph g;
    WriteBmp(dir + "/in.bmp", 7, 5);
    Choose(dir + "/in.bmp");
    g.WriteRegister(CStatisticsDecoupler::RegisterLoad, 1);
    CSmartPointer<IPacket> original = g.decoupler.GetStoredPacket();
    ASSERT_TRUE(original);

    Choose(dir + "/out.bmp");
    EXPECT_EQ(Boxes([&] { g.WriteRegister(CStatisticsDecoupler::RegisterSave, 1); }), "");
    Jel::CDibPtr saved = Jel::CDib::LoadBMP(dir + "/out.bmp");
    EXPECT_EQ(saved->GetBitsPerPixel(), 8);
    EXPECT_EQ(saved->GetPaletteType(), 1);

    g.WriteRegister(CStatisticsDecoupler::RegisterLoad, 1);
    CSmartPointer<IPacket> reloaded = g.decoupler.GetStoredPacket();
    ASSERT_NE(reloaded.Get(), original.Get());
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            EXPECT_EQ(PixelAt(reloaded, x, y), Pattern(x, y)) << x << "," << y;

    // A camera image (4 x 2, every pixel its sequence number) the same way.
    g.Pass(MakeImagePacket(77));
    Choose(dir + "/camera.bmp");
    g.WriteRegister(CStatisticsDecoupler::RegisterSave, 1);
    g.WriteRegister(CStatisticsDecoupler::RegisterLoad, 1);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(PixelAt(g.decoupler.GetStoredPacket(), x, y), 77);
}

TEST_F(StatisticsDecouplerCommandTest, SaveNeedsAStoredMono8Image)
{
    Graph g;
    Choose(dir + "/never.bmp");
    CException none = Caught([&] { g.WriteRegister(CStatisticsDecoupler::RegisterSave, 1); });
    EXPECT_EQ(none.GetCode(), 0xCEF00006u);
    EXPECT_EQ(none.GetLine(), 393);
    EXPECT_EQ(none.GetFile(), "StatisticsDecoupler.cpp");

    g.Pass(MakeMono16Packet(1));
    CException mono16 = Caught([&] { g.decoupler.SaveStoredImage(); });
    EXPECT_EQ(mono16.GetCode(), 0xCEF00006u);
    EXPECT_EQ(mono16.GetLine(), 400);
    EXPECT_FALSE(std::ifstream(dir + "/never.bmp").good());
}

TEST_F(StatisticsDecouplerCommandTest, AFailedSaveShowsTheBoxAndReturnsToLiveImages)
{
    Graph g;
    g.WriteRegister(CStatisticsDecoupler::RegisterSourceMode, CStatisticsDecoupler::SourceFreeze);
    g.Pass(MakeImagePacket(1));
    Choose(dir + "/missing/folder/out.bmp");
    std::string boxes = Boxes([&] { g.WriteRegister(CStatisticsDecoupler::RegisterSave, 1); });
    EXPECT_EQ(boxes.rfind("[Error while laoding file]\n", 0), 0u) << boxes;
    EXPECT_EQ(g.ReadRegister(CStatisticsDecoupler::RegisterSourceMode), 1u);

    unsetenv("TAV_DIALOG_FILE"); // cancelled: nothing written, nothing shown
    EXPECT_EQ(Boxes([&] { g.WriteRegister(CStatisticsDecoupler::RegisterSave, 1); }), "");
}

TEST_F(StatisticsDecouplerCommandTest, ALoadWhileFrozenImagesFlowReplacesWhatIsForwarded)
{
    Graph g;
    g.WriteRegister(CStatisticsDecoupler::RegisterSourceMode, CStatisticsDecoupler::SourceFreeze);
    g.Pass(MakeImagePacket(1));
    WriteBmp(dir + "/in.bmp", 4, 4);
    Choose(dir + "/in.bmp");
    std::thread loader([&] { g.WriteRegister(CStatisticsDecoupler::RegisterLoad, 1); });
    for (int i = 2; i < 50; ++i)
        g.source.Emit(MakeImagePacket(i));
    loader.join();
    g.Pass(MakeImagePacket(50));
    CSmartPointer<IPacket> loaded = g.decoupler.GetStoredPacket();
    EXPECT_EQ(g.lastForwarded.Get(), loaded.Get());
    EXPECT_EQ(PixelAt(loaded, 3, 2), Pattern(3, 2));
}

namespace {

// Answers every file dialog the GUI thread shows with a file in `dir`
// (the open dialog with `openName`, the save dialog with `saveName`) and
// records what the dialogs offered.
class DialogAnswerer : public QObject {
public:
    DialogAnswerer(std::string dir, std::string openName, std::string saveName)
        : dir(std::move(dir)), openName(std::move(openName)), saveName(std::move(saveName))
    {
    }
    bool eventFilter(QObject* object, QEvent* event) override
    {
        auto* dialog = qobject_cast<QFileDialog*>(object);
        if (dialog && event->type() == QEvent::Show) {
            const bool save = dialog->acceptMode() == QFileDialog::AcceptSave;
            filters += dialog->nameFilters().join(";").toStdString() + "|" + dialog->defaultSuffix().toStdString() +
                       (save ? "|save" : "|open") + "\n";
            dialog->setDirectory(QString::fromStdString(dir));
            dialog->selectFile(QString::fromStdString(save ? saveName : openName));
            QMetaObject::invokeMethod(dialog, &QDialog::accept, Qt::QueuedConnection);
        }
        return false;
    }
    std::string filters;

private:
    std::string dir, openName, saveName;
};

} // namespace

TEST(StatisticsDecouplerDialogs, FileDialogsRunOnTheGuiThreadForAnotherThreadsCommands)
{
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "Qt's file dialog hands file information over from a thread of its own in a way "
                    "the thread sanitizer cannot see; the hand-over to the GUI thread is checked "
                    "by the export tests";
#endif
    unsetenv("TAV_UNATTENDED");
    QApplication& app = StatisticsTest::App();
    const std::string dir = MakeTempDirectory();
    WriteBmp(dir + "/in.bmp", 6, 3);
    DialogAnswerer answerer(dir, "in.bmp", "out");
    app.installEventFilter(&answerer);
    Graph g;
    QEventLoop loop;
    std::thread writer([&] {
        g.WriteRegister(CStatisticsDecoupler::RegisterLoad, 1);
        g.WriteRegister(CStatisticsDecoupler::RegisterSave, 1);
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    loop.exec();
    writer.join();
    app.removeEventFilter(&answerer);
    EXPECT_EQ(answerer.filters, "Bitmap Files (*.bmp)|bmp|open\nBitmap Files (*.bmp)|bmp|save\n");
    ASSERT_TRUE(g.decoupler.GetStoredPacket());
    EXPECT_EQ(PixelAt(g.decoupler.GetStoredPacket(), 5, 2), Pattern(5, 2));
    EXPECT_TRUE(std::ifstream(dir + "/out.bmp").good()) << "saved with the default extension";
}
