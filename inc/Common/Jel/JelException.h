#pragma once

#include "Common/Jel/Exception.h"
#include "Common/MessageInserts.h"

namespace Jel {

// The text for `code`: from the catalog standing in for `messageFile`, else
// from the system message table, else "<no message found>". With inserts the
// text is formatted once more; a text whose conversions do not fit them
// gives "<unable to format message>".
std::string LookUpMessage(const char* messageFile, uint32_t code, const Tav::Detail::InsertKind* kinds, size_t count,
                          ...);

template <typename... Args>
std::string LookUpMessageWith(const char* messageFile, uint32_t code, Args... args)
{
    using Kinds = Tav::Detail::InsertKinds<Args...>;
    return LookUpMessage(messageFile, code, Kinds::values, Kinds::count, args...);
}

// Failure of the bitmap and image-file classes, texts from "JelError.dll".
class JelException : public Exception {
public:
    template <typename... Args>
    JelException(uint32_t code, const char* context, Args... args)
        : Exception(code, LookUpMessageWith("JelError.dll", code, args...), context ? context : "")
    {
    }
};

} // namespace Jel
