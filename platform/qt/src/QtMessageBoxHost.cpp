#include "Platform/QtMessageBoxHost.h"

#include "Platform/MessageBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace Tav::Platform {

namespace {

// A request copied out of the caller's strings: a cancelled request may
// still sit in the GUI thread's queue after its caller has returned.
struct BoxContent {
    QString text;
    QString caption;
    MessageBoxIcon icon;
    MessageBoxButtons buttons;
    bool systemModal;
};

struct PendingBox {
    BoxContent content;
    bool shown = false; // the GUI thread has taken it
    bool done = false;
    MessageBoxAnswer answer = MessageBoxAnswer::Ok;
    std::condition_variable answered;
};

struct HostState {
    std::mutex mutex;
    bool installed = false;
    // Lives on the GUI thread; cleared, under the mutex, when it is destroyed.
    QObject* receiver = nullptr;
    MessageBoxHost previousHost = nullptr;
    void* previousContext = nullptr;
    std::vector<std::shared_ptr<PendingBox>> pending;
};

HostState& State()
{
    static HostState state;
    return state;
}

BoxContent Copy(const MessageBoxRequest& request)
{
    return BoxContent{QString::fromUtf8(request.text ? request.text : ""),
                      QString::fromUtf8(request.caption ? request.caption : ""), request.icon, request.buttons,
                      request.systemModal};
}

QMessageBox::Icon ToQt(MessageBoxIcon icon)
{
    switch (icon) {
    case MessageBoxIcon::Information: return QMessageBox::Information;
    case MessageBoxIcon::Warning: return QMessageBox::Warning;
    case MessageBoxIcon::Error: return QMessageBox::Critical;
    case MessageBoxIcon::Question: return QMessageBox::Question;
    case MessageBoxIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

struct ButtonKind {
    QMessageBox::StandardButton button;
    MessageBoxAnswer answer;
    const char* objectName;
};

constexpr ButtonKind buttonKinds[] = {
    {QMessageBox::Ok, MessageBoxAnswer::Ok, "tavMessageBoxOk"},
    {QMessageBox::Yes, MessageBoxAnswer::Yes, "tavMessageBoxYes"},
    {QMessageBox::No, MessageBoxAnswer::No, "tavMessageBoxNo"},
    {QMessageBox::Retry, MessageBoxAnswer::Retry, "tavMessageBoxRetry"},
    {QMessageBox::Cancel, MessageBoxAnswer::Cancel, "tavMessageBoxCancel"},
};

std::vector<MessageBoxAnswer> AnswersOf(MessageBoxButtons buttons)
{
    switch (buttons) {
    case MessageBoxButtons::Ok: return {MessageBoxAnswer::Ok};
    case MessageBoxButtons::OkCancel: return {MessageBoxAnswer::Ok, MessageBoxAnswer::Cancel};
    case MessageBoxButtons::YesNo: return {MessageBoxAnswer::Yes, MessageBoxAnswer::No};
    case MessageBoxButtons::YesNoCancel:
        return {MessageBoxAnswer::Yes, MessageBoxAnswer::No, MessageBoxAnswer::Cancel};
    case MessageBoxButtons::RetryCancel: return {MessageBoxAnswer::Retry, MessageBoxAnswer::Cancel};
    }
    return {MessageBoxAnswer::Ok};
}

const ButtonKind& KindOf(MessageBoxAnswer answer)
{
    for (const ButtonKind& kind : buttonKinds)
        if (kind.answer == answer)
            return kind;
    return buttonKinds[0];
}

// Runs on the GUI thread; returns when the box has been answered.
MessageBoxAnswer ShowOnGuiThread(const BoxContent& content)
{
    QMessageBox box(ToQt(content.icon), content.caption, content.text, QMessageBox::NoButton,
                    QApplication::activeWindow());
    box.setObjectName("tavMessageBox");
    for (MessageBoxAnswer answer : AnswersOf(content.buttons)) {
        const ButtonKind& kind = KindOf(answer);
        box.addButton(kind.button)->setObjectName(kind.objectName);
    }
    const MessageBoxAnswer safe = SafeAnswer(content.buttons);
    // Escape and the close button give the answer that loses nothing.
    box.setEscapeButton(box.button(KindOf(safe).button));
    if (content.systemModal) {
        box.setWindowModality(Qt::ApplicationModal);
        box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    }
    box.show();
    box.raise();
    box.activateWindow();
    box.exec();
    QMessageBox::StandardButton clicked = box.standardButton(box.clickedButton());
    for (const ButtonKind& kind : buttonKinds)
        if (kind.button == clicked)
            return kind.answer;
    return safe;
}

// Answers every request the GUI thread has not taken yet. Caller holds the
// state's mutex.
void CancelWaiting(HostState& state)
{
    for (const auto& box : state.pending) {
        if (!box->shown && !box->done) {
            box->done = true;
            box->answer = SafeAnswer(box->content.buttons);
            box->answered.notify_all();
        }
    }
}

MessageBoxAnswer QtHost(const MessageBoxRequest& request, void*);

void Uninstall(HostState& state)
{
    if (!state.installed)
        return;
    state.installed = false;
    CancelWaiting(state);
    void* currentContext = nullptr;
    MessageBoxHost current = SetMessageBoxHost(state.previousHost, state.previousContext, &currentContext);
    if (current != &QtHost) // someone installed a host over this one: keep it
        SetMessageBoxHost(current, currentContext);
    state.previousHost = nullptr;
    state.previousContext = nullptr;
}

void RunOnGuiThread(const std::shared_ptr<PendingBox>& box)
{
    HostState& state = State();
    {
        std::lock_guard<std::mutex> guard(state.mutex);
        if (box->done)
            return; // answered by a removal while it was queued
        box->shown = true;
    }
    MessageBoxAnswer answer = ShowOnGuiThread(box->content);
    std::lock_guard<std::mutex> guard(state.mutex);
    box->answer = answer;
    box->done = true;
    box->answered.notify_all();
}

MessageBoxAnswer QtHost(const MessageBoxRequest& request, void*)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!qobject_cast<QApplication*>(app) || QCoreApplication::closingDown())
        return WriteMessageBoxToStandardError(request, nullptr);
    if (QThread::currentThread() == app->thread())
        return ShowOnGuiThread(Copy(request));

    HostState& state = State();
    auto box = std::make_shared<PendingBox>();
    box->content = Copy(request);
    std::unique_lock<std::mutex> lock(state.mutex);
    if (!state.installed || !state.receiver) {
        lock.unlock();
        return WriteMessageBoxToStandardError(request, nullptr);
    }
    state.pending.push_back(box);
    // Posted under the mutex that RunOnGuiThread takes first: the hand-over
    // is ordered by it, not only by Qt's queue.
    QMetaObject::invokeMethod(state.receiver, [box] { RunOnGuiThread(box); }, Qt::QueuedConnection);
    box->answered.wait(lock, [&] { return box->done; });
    state.pending.erase(std::find(state.pending.begin(), state.pending.end(), box));
    return box->answer;
}

} // namespace

bool InstallQtMessageBoxHost()
{
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app || QThread::currentThread() != app->thread())
        return false;
    HostState& state = State();
    std::lock_guard<std::mutex> guard(state.mutex);
    if (state.installed)
        return true;
    if (!state.receiver) {
        auto* receiver = new QObject(app);
        receiver->setObjectName("tavMessageBoxHost");
        // Queued requests die with their receiver: their callers must not
        // wait for ever.
        QObject::connect(receiver, &QObject::destroyed, [] {
            HostState& s = State();
            std::lock_guard<std::mutex> g(s.mutex);
            Uninstall(s);
            s.receiver = nullptr;
        });
        state.receiver = receiver;
    }
    state.previousHost = SetMessageBoxHost(&QtHost, nullptr, &state.previousContext);
    state.installed = true;
    return true;
}

void RemoveQtMessageBoxHost()
{
    HostState& state = State();
    std::lock_guard<std::mutex> guard(state.mutex);
    Uninstall(state);
}

size_t GetPendingQtMessageBoxCount()
{
    HostState& state = State();
    std::lock_guard<std::mutex> guard(state.mutex);
    return state.pending.size();
}

} // namespace Tav::Platform
