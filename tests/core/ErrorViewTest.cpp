#include "Core/CoreFactory.h"
#include "Core/ErrorChunk.h"
#include "Core/ErrorView.h"
#include "Core/ModuleLinker.h"
#include "DataBuffer/ChunkBuffer.h"
#include "DataBuffer/Packet.h"
#include "Platform/MessageBox.h"

#include "support/TestModules.h"
#include "support/TestPackets.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <memory>

using namespace Tav;
using namespace TavTest;
using namespace Tav::Platform;

namespace {

// Records the texts of the boxes shown; can keep a box open until released.
class BoxRecorder {
public:
    static MessageBoxAnswer Show(const MessageBoxRequest& request, void* context)
    {
        auto* self = static_cast<BoxRecorder*>(context);
        std::unique_lock<std::mutex> lock(self->mutex);
        self->boxes.push_back(std::string(request.caption) + "|" + request.text);
        self->changed.notify_all();
        self->changed.wait_for(lock, std::chrono::seconds(10), [&] { return !self->holding; });
        return MessageBoxAnswer::Ok;
    }
    std::vector<std::string> WaitFor(size_t count)
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(10), [&] { return boxes.size() >= count; });
        return boxes;
    }
    void Hold(bool on)
    {
        std::lock_guard<std::mutex> guard(mutex);
        holding = on;
        changed.notify_all();
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> boxes;
    bool holding = false;
};

bool Has(const std::string& text, const char* part)
{
    return text.find(part) != std::string::npos;
}

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
        recorder.Hold(false);
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

TEST_F(ErrorViewTest, ShowsReportedErrorsWithTheBareFileNameOrTheFatalBox)
{
    source.ReportError(CCommonException(0xCEF00004, 203, "src/core/work/Decoupler.cpp"));
    source.ReportError(CCommonException(0xCEF0000A, 55, "SafeNew.cpp"));
    std::vector<std::string> boxes = recorder.WaitFor(2);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_TRUE(Has(boxes[0], "Error|Description:\t")) << boxes[0];
    EXPECT_TRUE(Has(boxes[0], "\n\nError code:\tcef00004\n\nFile:\t\tDecoupler.cpp\nLine:\t\t203")) << boxes[0];
    EXPECT_EQ(boxes[1], "Fatal error|<Not enough memory>");
}

TEST_F(ErrorViewTest, ErrorsArrivingWhileABoxIsOpenFollowInArrivalOrder)
{
    recorder.Hold(true);
    source.ReportError(CCommonException(0xCEF00004, 1, "First.cpp"));
    recorder.WaitFor(1);
    // Two chunk buffers in one packet enumerate in the order they were added.
    source.Emit(MakeErrorPacket({CCommonException(0xCEF00004, 2, "Second.cpp"),
                                 CCommonException(0xCEF00004, 3, "Third.cpp")}),
                0);
    source.ReportError(CException(2, 0, "Fourth.cpp"));
    EXPECT_EQ(view.GetPendingCount(), 3u);
    recorder.Hold(false);
    std::vector<std::string> boxes = recorder.WaitFor(4);
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_TRUE(Has(boxes[0], "First.cpp"));
    EXPECT_TRUE(Has(boxes[1], "Second.cpp"));
    EXPECT_TRUE(Has(boxes[2], "Third.cpp"));
    EXPECT_TRUE(Has(boxes[3], "Error|Description: ")) << "line 0: the short form";
    EXPECT_TRUE(Has(boxes[3], "\n\nError code:  2\n"));
    EXPECT_FALSE(Has(boxes[3], "File:"));
}

TEST_F(ErrorViewTest, BadInputIsRejectedOrIgnoredAndTheViewerGoesOn)
{
    view.Push(1, MakeTextPacket("not an error"));
    EXPECT_EQ(view.GetPendingCount(), 0u);
    try {
        view.Push(2, MakeErrorPacket({CCommonException(0xCEF00004, 2, "x.cpp")}));
        ADD_FAILURE() << "port 2 accepted";
    } catch (const CException& e) {
        EXPECT_EQ(e.GetCode(), 0xCEF10103u);
    }
    // An error chunk whose strings are not terminated.
    CSmartPointer<CChunkBuffer> buffer = MakeErrorChunkBuffer(CCommonException(0xCEF00004, 5, "Bad.cpp"));
    std::memset(buffer->GetData(), 'x', buffer->GetSize() - CChunk::Size - 16);
    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(buffer.Get());
    try {
        view.Push(1, packet);
        ADD_FAILURE() << "malformed chunk accepted";
    } catch (const CException& e) {
        EXPECT_EQ(e.GetCode(), 0xCEF20009u);
    }
    source.ReportError(CCommonException(0xCEF00004, 9, "After.cpp"));
    std::vector<std::string> boxes = recorder.WaitFor(1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(Has(boxes[0], "After.cpp"));
}

TEST_F(ErrorViewTest, DeinitialiseDiscardsErrorsNotYetShown)
{
    recorder.Hold(true);
    source.ReportError(CCommonException(0xCEF00004, 1, "Shown.cpp"));
    recorder.WaitFor(1);
    source.ReportError(CCommonException(0xCEF00004, 2, "Discarded.cpp"));
    view.RequestStop(); // while the first box is still open
    recorder.Hold(false);
    linker.UnlinkAll();
    view.Deinitialize();
    EXPECT_EQ(view.GetPendingCount(), 0u);
    EXPECT_EQ(recorder.WaitFor(1).size(), 1u);

    // Made by the factory, initialised again, it shows errors again.
    CCoreFactory factory;
    std::unique_ptr<IComponent> made(factory.CreateObject("ErrorViewer"));
    auto* other = dynamic_cast<CErrorView*>(made.get());
    ASSERT_NE(other, nullptr);
    other->Initialize("ErrorViewer", nullptr);
    linker.Link(&source, 0, other, 1);
    source.ReportError(CCommonException(0xCEF00004, 3, "Again.cpp"));
    std::vector<std::string> boxes = recorder.WaitFor(2);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_TRUE(Has(boxes[1], "Again.cpp"));
    linker.UnlinkAll();
}
