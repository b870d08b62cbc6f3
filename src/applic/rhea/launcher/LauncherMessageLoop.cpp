#include "LauncherMessageLoop.h"

#include "Common/StaticErrorView.h"
#include "Core/IIdleHandler.h"
#include "Core/IMessageFilter.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>

#include <algorithm>

namespace Tav {

namespace {

template <typename T>
bool AddOnce(std::vector<T*>& list, T* item)
{
    if (!item || std::find(list.begin(), list.end(), item) != list.end())
        return false;
    list.push_back(item);
    return true;
}

template <typename T>
bool RemoveItem(std::vector<T*>& list, T* item)
{
    auto it = std::find(list.begin(), list.end(), item);
    if (it == list.end())
        return false;
    list.erase(it);
    return true;
}

} // namespace

CLauncherMessageLoop::CLauncherMessageLoop() = default;
CLauncherMessageLoop::~CLauncherMessageLoop() = default;

bool CLauncherMessageLoop::AddMessageFilter(IMessageFilter* filter)
{
    return AddOnce(filters, filter);
}

bool CLauncherMessageLoop::RemoveMessageFilter(IMessageFilter* filter)
{
    return RemoveItem(filters, filter);
}

bool CLauncherMessageLoop::AddIdleHandler(IIdleHandler* handler)
{
    return AddOnce(idleHandlers, handler);
}

bool CLauncherMessageLoop::RemoveIdleHandler(IIdleHandler* handler)
{
    return RemoveItem(idleHandlers, handler);
}

bool CLauncherMessageLoop::PreTranslateMessage(QObject* receiver, QEvent* event)
{
    // By index: a filter may add or remove filters while it runs.
    for (size_t i = filters.size(); i-- > 0;) {
        if (i >= filters.size())
            continue;
        try {
            if (filters[i]->PreTranslateMessage(receiver, event))
                return true;
        } catch (const CException& e) {
            // Nothing may unwind through Qt's event delivery.
            CStaticErrorView::ShowError(e);
            return true;
        }
    }
    return false;
}

bool CLauncherMessageLoop::OnIdle(int)
{
    // A handler that opens a nested event loop must not re-enter the others.
    if (inIdle)
        return false;
    inIdle = true;
    for (size_t i = 0; i < idleHandlers.size(); ++i) {
        try {
            idleHandlers[i]->OnIdle();
        } catch (const CException& e) {
            CStaticErrorView::ShowError(e);
        }
    }
    inIdle = false;
    return false;
}

int CLauncherMessageLoop::Run()
{
    QCoreApplication* application = QCoreApplication::instance();
    if (!application)
        return 0;
    CEventHook hook(*this);
    application->installEventFilter(&hook);
    QMetaObject::Connection idle;
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(application->thread()))
        idle = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, &hook, [this] { OnIdle(0); });
    // The first idle pass comes before any input.
    OnIdle(0);
    const int result = QCoreApplication::exec();
    QObject::disconnect(idle);
    application->removeEventFilter(&hook);
    return result;
}

bool CLauncherMessageLoop::CEventHook::eventFilter(QObject* watched, QEvent* event)
{
    return loop.PreTranslateMessage(watched, event);
}

} // namespace Tav
