#pragma once

// Modal message boxes, callable from any thread. The box blocks the calling
// thread until it is answered. A GUI installs a host that shows boxes on its
// own thread; until then, and always when TAV_UNATTENDED=1, a box is written
// to standard error as one block ("[<caption>]", the text, an empty line)
// and answered at once with the button that loses nothing.
//
// Requests carry plain C strings and the host is a function pointer, so a
// box can be shown without allocating (for the out-of-memory box).

namespace Tav::Platform {

enum class MessageBoxIcon { None, Information, Warning, Error, Question };
enum class MessageBoxButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel };
enum class MessageBoxAnswer { Ok, Cancel, Yes, No, Retry };

struct MessageBoxRequest {
    const char* text = "";
    const char* caption = "";
    MessageBoxIcon icon = MessageBoxIcon::None;
    MessageBoxButtons buttons = MessageBoxButtons::Ok;
    // Above every other window of the desktop, brought to the foreground.
    bool systemModal = false;
};

using MessageBoxHost = MessageBoxAnswer (*)(const MessageBoxRequest& request, void* context);

MessageBoxAnswer ShowMessageBox(const MessageBoxRequest& request);

// Installs `host` (null: the standard-error host) and returns the previous
// one with its context through `previousContext` when given.
MessageBoxHost SetMessageBoxHost(MessageBoxHost host, void* context, void** previousContext = nullptr);

// The answer that loses nothing: OK for a plain box, No for a yes/no
// question, Cancel where the box offers it.
MessageBoxAnswer SafeAnswer(MessageBoxButtons buttons);

// Writes the box to standard error and returns SafeAnswer; the host used
// when no GUI host is installed or TAV_UNATTENDED=1.
MessageBoxAnswer WriteMessageBoxToStandardError(const MessageBoxRequest& request, void* context);

// True when TAV_UNATTENDED=1: no box may wait for a person.
bool IsUnattended();

// The default alert sound.
void Beep();

} // namespace Tav::Platform
