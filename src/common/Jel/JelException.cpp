#include "Common/Jel/JelException.h"

#include "Common/Exception.h"
#include "Platform/MessageCatalog.h"
#include "Platform/SystemMessage.h"

#include <cstdarg>
#include <new>

namespace Jel {

std::string LookUpMessage(const char* messageFile, uint32_t code, const Tav::Detail::InsertKind* kinds, size_t count,
                          ...)
{
    try {
        std::string text;
        bool found = false;
        if (auto catalog = Tav::Platform::MessageCatalog::Load(messageFile)) {
            if (const std::string* t = catalog->Find(code)) {
                text = *t;
                found = true;
            }
        }
        if (!found)
            found = Tav::Platform::FindSystemMessage(code, text);
        // The program itself carries no message table.
        if (!found)
            return "<no message found>";
        if (count == 0)
            return text;
        if (!Tav::Detail::FormatAccepts(text.c_str(), kinds, count))
            return "<unable to format message>";
        va_list arguments;
        va_start(arguments, count);
        std::string result = Tav::FormatString(text.c_str(), arguments);
        va_end(arguments);
        return result;
    } catch (const std::bad_alloc&) {
        return std::string();
    }
}

} // namespace Jel
