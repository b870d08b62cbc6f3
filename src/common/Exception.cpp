#include "Common/Exception.h"

#include "Platform/MessageCatalog.h"
#include "Platform/SystemMessage.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace Tav {

CException::CException() : code(0), line(0) {}

CException::CException(uint32_t code, int line, const char* file)
    : code(code), line(line), file(file ? file : "")
{
    if (!Platform::FindSystemMessage(code, description))
        description = FormatString("<system error message for error %0x08x could not be found>", code);
}

CException::CException(uint32_t code, int line, const char* file, std::string description)
    : code(code), line(line), file(file ? file : ""), description(std::move(description))
{
}

CException::CException(const CException& other) = default;
CException& CException::operator=(const CException& other) = default;
CException::~CException() = default;

std::string FormatString(const char* format, va_list arguments)
{
    if (!format)
        return std::string();
    va_list counting;
    va_copy(counting, arguments);
    int needed = std::vsnprintf(nullptr, 0, format, counting);
    va_end(counting);
    if (needed < 0)
        return std::string();
    char* buffer = static_cast<char*>(std::malloc(static_cast<size_t>(needed) + 1));
    if (!buffer)
        return std::string();
    va_list printing;
    va_copy(printing, arguments);
    std::vsnprintf(buffer, static_cast<size_t>(needed) + 1, format, printing);
    va_end(printing);
    std::string result;
    try {
        result.assign(buffer, static_cast<size_t>(needed));
    } catch (const std::bad_alloc&) {
        result.clear();
    }
    std::free(buffer);
    return result;
}

std::string FormatString(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::string result = FormatString(format, arguments);
    va_end(arguments);
    return result;
}

namespace {

// The catalog text for `code`, or the result to return instead of
// formatting one (empty, or the missing-catalog text) in `fallback`.
const std::string* FindMessageText(const char* messageFile, uint32_t code, std::string& fallback)
{
    // The program itself carries no message table.
    if (!messageFile || !*messageFile)
        return nullptr;
    auto catalog = Platform::MessageCatalog::Load(messageFile);
    if (!catalog) {
        fallback = FormatString("<message resource file %s could not be loaded>", messageFile);
        return nullptr;
    }
    // Catalogs stay cached for the life of the process.
    return catalog->Find(code);
}

} // namespace

std::string LoadMessage(const char* messageFile, uint32_t code, va_list arguments)
{
    try {
        std::string fallback;
        const std::string* text = FindMessageText(messageFile, code, fallback);
        return text ? FormatString(text->c_str(), arguments) : fallback;
    } catch (const std::bad_alloc&) {
        return std::string();
    }
}

std::string Detail::LoadCheckedMessage(const char* messageFile, uint32_t code, const InsertKind* kinds, size_t count,
                                       ...)
{
    try {
        std::string fallback;
        const std::string* text = FindMessageText(messageFile, code, fallback);
        if (!text)
            return fallback;
        if (!FormatAccepts(text->c_str(), kinds, count))
            return *text;
        va_list arguments;
        va_start(arguments, count);
        std::string result = FormatString(text->c_str(), arguments);
        va_end(arguments);
        return result;
    } catch (const std::bad_alloc&) {
        return std::string();
    }
}

std::string LoadMessage(const char* messageFile, uint32_t code, ...)
{
    va_list arguments;
    va_start(arguments, code);
    std::string result = LoadMessage(messageFile, code, arguments);
    va_end(arguments);
    return result;
}

} // namespace Tav
