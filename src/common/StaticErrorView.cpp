#include "Common/StaticErrorView.h"

#include "Platform/MessageBox.h"

#include <cstdarg>

namespace Tav {

namespace {

// The file name without its directories; both separators count.
std::string BareFileName(const std::string& path)
{
    size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

Platform::MessageBoxRequest ErrorBox(const char* text, const char* caption)
{
    Platform::MessageBoxRequest box;
    box.text = text;
    box.caption = caption;
    box.icon = Platform::MessageBoxIcon::Error;
    box.buttons = Platform::MessageBoxButtons::Ok;
    box.systemModal = true;
    return box;
}

} // namespace

std::string CStaticErrorView::FormatErrorText(const CException& error)
{
    const unsigned long code = error.GetCode();
    if (code != 0 && error.GetLine() != 0)
        return FormatString("Description:\t%s\n\nError code:\t%lx\n\nFile:\t\t%s\nLine:\t\t%d",
                            error.GetDescription().c_str(), code, BareFileName(error.GetFile()).c_str(),
                            error.GetLine());
    if (code != 0)
        return FormatString("Description: %s\n\nError code:  %lx\n", error.GetDescription().c_str(), code);
    return error.GetDescription();
}

void CStaticErrorView::ShowError(const CException& error)
{
    if (error.GetCode() == 0xCEF0000A) {
        // Memory is short: constant strings only.
        Platform::Beep();
        Platform::ShowMessageBox(ErrorBox("<Not enough memory>", "Fatal error"));
        return;
    }
    std::string text = FormatErrorText(error);
    Platform::ShowMessageBox(ErrorBox(text.c_str(), "Error"));
}

void CStaticErrorView::ShowErrorMessage(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::string text = FormatString(format, arguments);
    va_end(arguments);
    ShowError(CCommonException(0xCEF00001, 84, "StaticErrorView.cpp", text.c_str()));
}

} // namespace Tav
