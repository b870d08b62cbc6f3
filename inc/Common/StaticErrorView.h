#pragma once

#include "Common/Exception.h"

namespace Tav {

// Shows errors in system-modal error boxes; returns when the box is closed.
class CStaticErrorView {
public:
    static void ShowError(const CException& error);
    // Wraps the formatted text in the free-text error 0xCEF00001.
    static void ShowErrorMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

    // The box text for `error` (not for the out-of-memory error).
    static std::string FormatErrorText(const CException& error);
};

} // namespace Tav
