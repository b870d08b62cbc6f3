#include "Common/StaticErrorView.h"
#include "Platform/MessageBox.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Tav;
using namespace Tav::Platform;

namespace {

struct Shown {
    std::string text;
    std::string caption;
    MessageBoxIcon icon;
    bool systemModal;
};

MessageBoxAnswer Record(const MessageBoxRequest& r, void* context)
{
    static_cast<std::vector<Shown>*>(context)->push_back({r.text, r.caption, r.icon, r.systemModal});
    return MessageBoxAnswer::Ok;
}

class StaticErrorViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("TAV_UNATTENDED");
        previous = SetMessageBoxHost(&Record, &shown, &previousContext);
    }
    void TearDown() override { SetMessageBoxHost(previous, previousContext); }

    std::vector<Shown> shown;
    MessageBoxHost previous = nullptr;
    void* previousContext = nullptr;
};

} // namespace

TEST_F(StaticErrorViewTest, FullFormShowsTheBareFileNameAndLine)
{
    CCommonException e(0xCEF00001, 203, "src/core/sub\\Decoupler.cpp", "queue failed");
    CStaticErrorView::ShowError(e);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "Error");
    EXPECT_EQ(shown[0].text, "Description:\tqueue failed\n\nError code:\tcef00001\n\nFile:\t\tDecoupler.cpp\nLine:\t\t203");
    EXPECT_EQ(shown[0].icon, MessageBoxIcon::Error);
    EXPECT_TRUE(shown[0].systemModal);
}

TEST_F(StaticErrorViewTest, ShortFormsWithoutLineOrCode)
{
    CException noLine(126, 0, "x.cpp");
    CStaticErrorView::ShowError(noLine);
    CException none;
    CStaticErrorView::ShowError(none);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, "Description: The specified module could not be found.\n\n\nError code:  7e\n");
    EXPECT_EQ(shown[1].text, "");
}

TEST_F(StaticErrorViewTest, OutOfMemoryShowsTheConstantBox)
{
    CCommonException e(0xCEF0000A, 55, "SafeNew.cpp");
    CStaticErrorView::ShowError(e);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "<Not enough memory>");
    EXPECT_EQ(shown[0].caption, "Fatal error");
}

TEST_F(StaticErrorViewTest, ShowErrorMessageWrapsTheFreeText)
{
    CStaticErrorView::ShowErrorMessage("Error in XML file: %s", "There is no root element.");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].text.find("Description:\tError in XML file: There is no root element."), std::string::npos);
    EXPECT_NE(shown[0].text.find("Line:\t\t84"), std::string::npos);
    EXPECT_NE(shown[0].text.find("StaticErrorView.cpp"), std::string::npos);
}

TEST_F(StaticErrorViewTest, UnattendedRunsWriteTheBoxToStandardError)
{
    setenv("TAV_UNATTENDED", "1", 1);
    testing::internal::CaptureStderr();
    MessageBoxRequest q;
    q.text = "Save?";
    q.caption = "Question";
    q.buttons = MessageBoxButtons::YesNo;
    MessageBoxAnswer a = ShowMessageBox(q);
    std::string out = testing::internal::GetCapturedStderr();
    unsetenv("TAV_UNATTENDED");
    EXPECT_EQ(a, MessageBoxAnswer::No);
    EXPECT_EQ(out, "[Question]\nSave?\n\n");
    EXPECT_TRUE(shown.empty()) << "the installed host is bypassed";
}
