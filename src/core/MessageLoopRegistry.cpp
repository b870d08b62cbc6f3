#include "Core/IMessageLoop.h"

#include <map>
#include <mutex>
#include <thread>

namespace Tav {

namespace {

std::mutex& RegistryLock()
{
    static std::mutex lock;
    return lock;
}

std::map<std::thread::id, IMessageLoop*>& Loops()
{
    static std::map<std::thread::id, IMessageLoop*> loops;
    return loops;
}

} // namespace

bool AddMessageLoop(IMessageLoop* loop)
{
    if (!loop)
        return false;
    std::lock_guard<std::mutex> guard(RegistryLock());
    return Loops().emplace(std::this_thread::get_id(), loop).second;
}

bool RemoveMessageLoop()
{
    std::lock_guard<std::mutex> guard(RegistryLock());
    return Loops().erase(std::this_thread::get_id()) != 0;
}

IMessageLoop* GetMessageLoop()
{
    std::lock_guard<std::mutex> guard(RegistryLock());
    auto it = Loops().find(std::this_thread::get_id());
    return it == Loops().end() ? nullptr : it->second;
}

} // namespace Tav
