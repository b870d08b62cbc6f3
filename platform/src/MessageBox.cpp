#include "Platform/MessageBox.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace Tav::Platform {

namespace {

std::mutex hostMutex;
MessageBoxHost installedHost = nullptr;
void* installedContext = nullptr;

} // namespace

bool IsUnattended()
{
    const char* v = std::getenv("TAV_UNATTENDED");
    return v && std::strcmp(v, "1") == 0;
}

MessageBoxAnswer SafeAnswer(MessageBoxButtons buttons)
{
    switch (buttons) {
    case MessageBoxButtons::Ok: return MessageBoxAnswer::Ok;
    case MessageBoxButtons::YesNo: return MessageBoxAnswer::No;
    case MessageBoxButtons::OkCancel:
    case MessageBoxButtons::YesNoCancel:
    case MessageBoxButtons::RetryCancel: return MessageBoxAnswer::Cancel;
    }
    return MessageBoxAnswer::Cancel;
}

MessageBoxAnswer WriteMessageBoxToStandardError(const MessageBoxRequest& request, void*)
{
    // One locked stream operation per piece keeps the block together
    // against other writers of this process.
    flockfile(stderr);
    std::fputs("[", stderr);
    std::fputs(request.caption ? request.caption : "", stderr);
    std::fputs("]\n", stderr);
    std::fputs(request.text ? request.text : "", stderr);
    std::fputs("\n\n", stderr);
    funlockfile(stderr);
    std::fflush(stderr);
    return SafeAnswer(request.buttons);
}

MessageBoxHost SetMessageBoxHost(MessageBoxHost host, void* context, void** previousContext)
{
    std::lock_guard<std::mutex> guard(hostMutex);
    MessageBoxHost previous = installedHost;
    if (previousContext)
        *previousContext = installedContext;
    installedHost = host;
    installedContext = context;
    return previous;
}

MessageBoxAnswer ShowMessageBox(const MessageBoxRequest& request)
{
    MessageBoxHost host;
    void* context;
    {
        std::lock_guard<std::mutex> guard(hostMutex);
        host = installedHost;
        context = installedContext;
    }
    if (!host || IsUnattended())
        return WriteMessageBoxToStandardError(request, nullptr);
    return host(request, context);
}

void Beep()
{
    // The terminal bell: the one alert every desktop session has.
    std::fputc('\a', stderr);
    std::fflush(stderr);
}

} // namespace Tav::Platform
