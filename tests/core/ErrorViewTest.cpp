#include "Core/CoreFactory.h"
#include "Core/ErrorChunk.h"
#include "Core/ErrorView.h"
#include "Core/ModuleLinker.h"
#include "DataBuffer/ChunkBuffer.h"
#include "DataBuffer/Guid.h"
#include "DataBuffer/Packet.h"
#include "Platform/Event.h"
#include "Platform/MessageBox.h"

#include "support/TestModules.h"
#include "support/TestPackets.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

using namespace Tav;
using namespace TavTest;
using namespace Tav::Platform;

namespace {

// Records the boxes shown; can hold the first one open until released.
class BoxRecorder {
public:
    struct Box {
        std::string text;
        std::string caption;
    };

    static MessageBoxAnswer Show(const MessageBoxRequest& request, void* context)
    {
        auto* self = static_cast<BoxRecorder*>(context);
        {
            std::unique_lock<std::mutex> lock(self->mutex);
            self->boxes.push_back({request.text, request.caption});
            self->changed.notify_all();
            self->changed.wait_for(lock, std::chrono::seconds(10), [&] { return !self->holding; });
        }
        return MessageBoxAnswer::Ok;
    }

    std::vector<Box> WaitFor(size_t count)
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(10), [&] { return boxes.size() >= count; });
        return boxes;
    }

    void Hold()
    {
        std::lock_guard<std::mutex> guard(mutex);
        holding = true;
    }
    void Release()
    {
        std::lock_guard<std::mutex> guard(mutex);
        holding = false;
        changed.notify_all();
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Box> boxes;
    bool holding = false;
};

class ErrorViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("TAV_UNATTENDED");
        previous = SetMessageBoxHost(&BoxRecorder::Show, &recorder, &previousContext);
        source.Initialize("Source", nullptr);
        view.Initialize("ErrorViewer", nullptr);
        linker.Link(&source, 0, &view, 1);
    }
    void TearDown() override
    {
        recorder.Release();
        linker.UnlinkAll();
        view.Deinitialize();
        SetMessageBoxHost(previous, previousContext);
    }

    BoxRecorder recorder;
    TestSource source;
    CErrorView view;
    CModuleLinker linker;
    MessageBoxHost previous = nullptr;
    void* previousContext = nullptr;
};

} // namespace

TEST_F(ErrorViewTest, ShowsAReportedErrorWithTheBareFileNameAndLine)
{
    source.ReportError(CCommonException(0xCEF00004, 203, "src/core/work/Decoupler.cpp"));
    std::vector<BoxRecorder::Box> boxes = recorder.WaitFor(1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_NE(boxes[0].text.find("Error code:\tcef00004"), std::string::npos) << boxes[0].text;
    EXPECT_NE(boxes[0].text.find("File:\t\tDecoupler.cpp\nLine:\t\t203"), std::string::npos) << boxes[0].text;
    EXPECT_EQ(boxes[0].text.find("src/core"), std::string::npos);
}

TEST_F(ErrorViewTest, OutOfMemoryShowsTheFatalBoxWhateverTheDescription)
{
    source.ReportError(CCommonException(0xCEF0000A, 55, "SafeNew.cpp"));
    std::vector<BoxRecorder::Box> boxes = recorder.WaitFor(1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "<Not enough memory>");
    EXPECT_EQ(boxes[0].caption, "Fatal error");
}

TEST_F(ErrorViewTest, ErrorsArrivingWhileABoxIsOpenAreShownAfterItInArrivalOrder)
{
    recorder.Hold();
    source.ReportError(CCommonException(0xCEF00004, 1, "First.cpp"));
    recorder.WaitFor(1);
    // Two chunks in one packet, then one more packet: all wait for the box.
    source.Emit(MakeErrorPacket({CCommonException(0xCEF00004, 2, "Second.cpp"),
                                 CCommonException(0xCEF00004, 3, "Third.cpp")}),
                0);
    source.ReportError(CException(2, 0, "Fourth.cpp"));
    EXPECT_EQ(view.GetPendingCount(), 3u);
    recorder.Release();
    std::vector<BoxRecorder::Box> boxes = recorder.WaitFor(4);
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_NE(boxes[0].text.find("First.cpp"), std::string::npos);
    // The packet's chunks in enumeration order.
    CSmartPointer<IPacket> packet = MakeErrorPacket(
        {CCommonException(0xCEF00004, 2, "Second.cpp"), CCommonException(0xCEF00004, 3, "Third.cpp")});
    CSmartPointer<IEnumChunks> chunks;
    packet->EnumChunks(chunks, GUID_ErrorChunk);
    CChunkPtr<CChunk> chunk;
    ASSERT_TRUE(chunks->Next(chunk));
    std::string firstFound = ReadErrorChunk(chunk).file;
    EXPECT_NE(boxes[1].text.find(firstFound), std::string::npos) << boxes[1].text;
    EXPECT_EQ(boxes[3].text.rfind("Description: ", 0), 0u) << "line 0: the short form";
    EXPECT_NE(boxes[3].text.find("\n\nError code:  2\n"), std::string::npos) << boxes[3].text;
    EXPECT_EQ(boxes[3].text.find("File:"), std::string::npos);
}

TEST_F(ErrorViewTest, PacketsWithoutErrorChunksAreIgnoredAndOtherPortsRejected)
{
    view.Push(1, MakeTextPacket("not an error"));
    EXPECT_EQ(view.GetPendingCount(), 0u);
    try {
        view.Push(2, MakeErrorPacket({CCommonException(0xCEF00004, 2, "x.cpp")}));
        FAIL() << "port 2 accepted";
    } catch (const CException& e) {
        EXPECT_EQ(e.GetCode(), 0xCEF10103u);
    }
    try {
        view.OnSignal(4);
        FAIL() << "key 4 accepted";
    } catch (const CException& e) {
        EXPECT_EQ(e.GetCode(), 0xCEF00000u);
        EXPECT_EQ(e.GetLine(), 77);
    }
    source.ReportError(CCommonException(0xCEF00004, 9, "After.cpp"));
    EXPECT_EQ(recorder.WaitFor(1).size(), 1u);
}

TEST_F(ErrorViewTest, AMalformedErrorChunkThrowsBackToTheSender)
{
    // A string chunk whose string is not terminated, typed as an error.
    CSmartPointer<CChunkBuffer> buffer = MakeErrorChunkBuffer(CCommonException(0xCEF00004, 5, "Bad.cpp"));
    unsigned char* data = buffer->GetData();
    std::memset(data, 'x', buffer->GetSize() - 24 - 16);
    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(buffer.Get());
    try {
        view.Push(1, packet);
        FAIL() << "malformed chunk accepted";
    } catch (const CException& e) {
        EXPECT_EQ(e.GetCode(), 0xCEF20009u);
    }
    EXPECT_EQ(view.GetPendingCount(), 0u);
}

TEST_F(ErrorViewTest, DeinitialiseDiscardsErrorsNotYetShownAndTheCoreFactoryMakesViewers)
{
    recorder.Hold();
    source.ReportError(CCommonException(0xCEF00004, 1, "Shown.cpp"));
    recorder.WaitFor(1);
    source.ReportError(CCommonException(0xCEF00004, 2, "Discarded.cpp"));
    // The stop is requested while the first box is still open.
    view.RequestStop();
    recorder.Release();
    linker.UnlinkAll();
    view.Deinitialize();
    EXPECT_EQ(view.GetPendingCount(), 0u);
    EXPECT_EQ(recorder.WaitFor(1).size(), 1u);

    // Initialised again, it shows errors again.
    view.Initialize("ErrorViewer", nullptr);
    linker.Link(&source, 0, &view, 1);
    source.ReportError(CCommonException(0xCEF00004, 3, "Again.cpp"));
    std::vector<BoxRecorder::Box> boxes = recorder.WaitFor(2);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_NE(boxes[1].text.find("Again.cpp"), std::string::npos);

    CCoreFactory factory;
    IComponent* created = factory.CreateObject("ErrorViewer");
    EXPECT_NE(dynamic_cast<CErrorView*>(created), nullptr);
    delete created;
}
