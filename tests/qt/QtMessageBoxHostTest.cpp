#include "Platform/MessageBox.h"
#include "Platform/QtMessageBoxHost.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

using namespace Tav::Platform;

namespace {

// One QApplication for the whole program, on the main (test) thread.
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
            setenv("QT_QPA_PLATFORM", "offscreen", 0);
        // The boxes need no session bus, and libdbus keeps memory that
        // LeakSanitizer reports.
        setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
#if defined(__SANITIZE_THREAD__)
        // Qt is not built for TSan: the hand-overs of its bus thread look
        // like races. The offscreen platform starts no such thread; the host
        // works the same there.
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
#endif
        app = new QApplication(argc, argv);
    }
    void TearDown() override
    {
        delete app;
        app = nullptr;
    }

private:
    int argc = 1;
    char name[16] = "qt_host_tests";
    char* argv[2] = {name, nullptr};
    QApplication* app = nullptr;
};

const auto* environment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

QMessageBox* VisibleBox()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible() && box->objectName() == "tavMessageBox")
            return box;
    return nullptr;
}

// Waits, on the GUI thread's event loop, for the box to appear, then lets
// `answer` look at it and press a button. Gives up after about 10 s.
void AnswerWhenShown(std::function<void(QMessageBox*)> answer, int triesLeft = 1000)
{
    QTimer::singleShot(10, [answer, triesLeft] {
        if (QMessageBox* box = VisibleBox())
            answer(box);
        else if (triesLeft > 0)
            AnswerWhenShown(answer, triesLeft - 1);
    });
}

void Click(QMessageBox* box, const char* objectName)
{
    auto* button = box->findChild<QAbstractButton*>(objectName);
    ASSERT_NE(button, nullptr) << objectName;
    button->click();
}

struct Recorded {
    std::string text;
    int calls = 0;
};

MessageBoxAnswer Record(const MessageBoxRequest& request, void* context)
{
    auto* r = static_cast<Recorded*>(context);
    r->text = request.text;
    ++r->calls;
    return MessageBoxAnswer::Retry;
}

class QtMessageBoxHostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("TAV_UNATTENDED");
        outer = SetMessageBoxHost(&Record, &recorded, &outerContext);
        ASSERT_TRUE(InstallQtMessageBoxHost());
    }
    void TearDown() override
    {
        RemoveQtMessageBoxHost();
        SetMessageBoxHost(outer, outerContext);
    }

    Recorded recorded;
    MessageBoxHost outer = nullptr;
    void* outerContext = nullptr;
};

MessageBoxRequest Question(const char* text, MessageBoxButtons buttons)
{
    MessageBoxRequest request;
    request.text = text;
    request.caption = "Save";
    request.icon = MessageBoxIcon::Question;
    request.buttons = buttons;
    request.systemModal = true;
    return request;
}

} // namespace

TEST_F(QtMessageBoxHostTest, OnTheGuiThreadTheBoxIsShownDirectlyWithItsStyle)
{
    QString text, caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    Qt::WindowModality modality = Qt::NonModal;
    bool onTop = false;
    int buttons = 0;
    AnswerWhenShown([&](QMessageBox* box) {
        text = box->text();
        caption = box->windowTitle();
        icon = box->icon();
        modality = box->windowModality();
        onTop = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
        buttons = static_cast<int>(box->buttons().size());
        Click(box, "tavMessageBoxYes");
    });
    MessageBoxAnswer answer = ShowMessageBox(Question("Save the image?", MessageBoxButtons::YesNoCancel));
    EXPECT_EQ(answer, MessageBoxAnswer::Yes);
    EXPECT_EQ(text.toStdString(), "Save the image?");
    EXPECT_EQ(caption.toStdString(), "Save");
    EXPECT_EQ(icon, QMessageBox::Question);
    EXPECT_EQ(modality, Qt::ApplicationModal);
    EXPECT_TRUE(onTop);
    EXPECT_EQ(buttons, 3);
    EXPECT_EQ(recorded.calls, 0) << "the previous host is not asked";
}

TEST_F(QtMessageBoxHostTest, ClosingTheBoxGivesTheAnswerThatLosesNothing)
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    AnswerWhenShown([&](QMessageBox* box) {
        icon = box->icon();
        box->reject();
    });
    MessageBoxRequest request = Question("Overwrite?", MessageBoxButtons::YesNo);
    request.icon = MessageBoxIcon::Error;
    EXPECT_EQ(ShowMessageBox(request), MessageBoxAnswer::No);
    EXPECT_EQ(icon, QMessageBox::Critical);
}

TEST_F(QtMessageBoxHostTest, AnotherThreadIsBlockedUntilTheGuiThreadHasAnswered)
{
    std::atomic<bool> returned{false};
    MessageBoxAnswer answer = MessageBoxAnswer::Ok;
    QEventLoop loop;
    // The hand-over of the queued call goes through Qt, which TSan does not
    // see; the mutex makes it visible.
    std::mutex quitting;
    std::thread worker([&] {
        answer = ShowMessageBox(Question("Retry the transfer?", MessageBoxButtons::RetryCancel));
        returned = true;
        std::lock_guard<std::mutex> guard(quitting);
        QMetaObject::invokeMethod(
            &loop,
            [&] {
                std::lock_guard<std::mutex> inner(quitting);
                loop.quit();
            },
            Qt::QueuedConnection);
    });
    bool blockedWhileShown = false;
    bool shownOnGuiThread = false;
    AnswerWhenShown([&](QMessageBox* box) {
        blockedWhileShown = !returned && GetPendingQtMessageBoxCount() == 1;
        shownOnGuiThread = QThread::currentThread() == qApp->thread();
        EXPECT_EQ(box->text().toStdString(), "Retry the transfer?");
        Click(box, "tavMessageBoxCancel");
    });
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    worker.join();
    EXPECT_TRUE(returned);
    EXPECT_EQ(answer, MessageBoxAnswer::Cancel);
    EXPECT_TRUE(blockedWhileShown);
    EXPECT_TRUE(shownOnGuiThread);
    EXPECT_EQ(GetPendingQtMessageBoxCount(), 0u);
}

// The GUI thread waits for a thread that waits for a box: removing the host
// first lets both go on.
TEST_F(QtMessageBoxHostTest, RemovingTheHostReleasesCallersWhileTheGuiThreadIsBlocked)
{
    MessageBoxAnswer answer = MessageBoxAnswer::Ok;
    std::thread worker([&] { answer = ShowMessageBox(Question("Keep?", MessageBoxButtons::YesNo)); });
    // No events are processed here, so the request cannot be shown.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (GetPendingQtMessageBoxCount() == 0 && std::chrono::steady_clock::now() < limit)
        std::this_thread::yield();
    ASSERT_EQ(GetPendingQtMessageBoxCount(), 1u);
    RemoveQtMessageBoxHost();
    worker.join();
    EXPECT_EQ(answer, MessageBoxAnswer::No);

    // The queued request is not shown late, and boxes go to the host that
    // was there before.
    QCoreApplication::processEvents();
    EXPECT_EQ(VisibleBox(), nullptr);
    EXPECT_EQ(ShowMessageBox(Question("After", MessageBoxButtons::RetryCancel)), MessageBoxAnswer::Retry);
    EXPECT_EQ(recorded.text, "After");

    // Only the GUI thread can install it again.
    bool installed = true;
    std::thread([&] { installed = InstallQtMessageBoxHost(); }).join();
    EXPECT_FALSE(installed);
    ASSERT_TRUE(InstallQtMessageBoxHost());
    AnswerWhenShown([](QMessageBox* box) { Click(box, "tavMessageBoxOk"); });
    EXPECT_EQ(ShowMessageBox(Question("Again", MessageBoxButtons::OkCancel)), MessageBoxAnswer::Ok);
}
