#pragma once

// Message-only windows: a window belongs to the thread that created it,
// which runs RunMessageLoop to handle the messages posted or sent to it.
// A window's procedure can be replaced (subclassing) and the previous one
// called on. Sent messages from other threads wait until the owner has
// handled them; a window that is gone, or whose thread no longer runs its
// loop, answers 0.

#include <cstdint>
#include <functional>
#include <string>

namespace Tav::Platform {

using WindowHandle = uintptr_t; // 0: none
using WindowProcedure = std::function<intptr_t(WindowHandle, uint32_t message, uintptr_t wParam, intptr_t lParam)>;

constexpr uint32_t WmDestroy = 0x0002;
constexpr uint32_t WmClose = 0x0010;
constexpr uint32_t WmQuit = 0x0012;
constexpr uint32_t WmDeviceChange = 0x0219;
constexpr uint32_t WmUser = 0x0400;

// A window owned by the calling thread. Without a procedure, messages are
// handled as DefaultWindowProcedure does.
WindowHandle CreateMessageWindow(const std::string& name, WindowProcedure procedure);

bool IsWindow(WindowHandle window);

// Installs `procedure`; `previous` (when given) receives the one it replaces.
// False with ErrorInvalidWindowHandle for a window that is gone.
bool SetWindowProcedure(WindowHandle window, WindowProcedure procedure, WindowProcedure* previous);

// WM_CLOSE destroys the window; everything else answers 0.
intptr_t DefaultWindowProcedure(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

bool PostMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
intptr_t SendMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Owner thread only: WM_DESTROY goes to the procedure, then the window is gone.
bool DestroyWindow(WindowHandle window);

// Ends the calling thread's RunMessageLoop with `code`.
void PostQuitMessage(int code);

// Handles the calling thread's messages until PostQuitMessage; returns its code.
int RunMessageLoop();

} // namespace Tav::Platform
