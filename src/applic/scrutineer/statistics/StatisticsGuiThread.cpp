#include "StatisticsGuiThread.h"

#include <QGuiApplication>
#include <QMetaObject>
#include <QThread>

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>

namespace Tav {

namespace {

// One call waiting for the GUI thread. The caller waits on `finished`.
struct CPendingWork {
    const std::function<void()>* work = nullptr;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::exception_ptr failure;
};

// Calls travel through this queue, guarded by a mutex of ours: Qt's own
// hand-over (its event queue, its blocking connection) is invisible to the
// thread sanitizer. Qt only carries a wake-up without data.
std::mutex queueMutex;
std::deque<std::shared_ptr<CPendingWork>> queue;

void RunQueuedWork()
{
    for (;;) {
        std::shared_ptr<CPendingWork> next;
        {
            std::lock_guard<std::mutex> guard(queueMutex);
            if (queue.empty())
                return;
            next = std::move(queue.front());
            queue.pop_front();
        }
        // A failure goes back to the caller: it must not unwind through
        // Qt's event loop.
        std::exception_ptr failure;
        try {
            (*next->work)();
        } catch (...) {
            failure = std::current_exception();
        }
        std::lock_guard<std::mutex> guard(next->mutex);
        next->failure = failure;
        next->done = true;
        next->finished.notify_all();
    }
}

} // namespace

bool RunOnStatisticsGuiThread(const std::function<void()>& work)
{
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app || QCoreApplication::closingDown())
        return false;
    if (QThread::currentThread() == app->thread()) {
        work();
        return true;
    }
    auto pending = std::make_shared<CPendingWork>();
    pending->work = &work;
    {
        std::lock_guard<std::mutex> guard(queueMutex);
        queue.push_back(pending);
    }
    QMetaObject::invokeMethod(app, [] { RunQueuedWork(); }, Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(pending->mutex);
    pending->finished.wait(lock, [&] { return pending->done; });
    if (pending->failure)
        std::rethrow_exception(pending->failure);
    return true;
}

} // namespace Tav
