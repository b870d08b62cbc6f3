#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

#include "Common/MessageInserts.h"

namespace Tav {

// Base of every framework failure: a 32-bit code, the raise site and a
// description looked up when the exception is built.
class CException {
public:
    CException();
    // A system error number; the description is the system's text for it.
    CException(uint32_t code, int line, const char* file);
    CException(const CException& other);
    CException& operator=(const CException& other);
    virtual ~CException();

    uint32_t GetCode() const { return code; }
    int GetLine() const { return line; }
    const std::string& GetFile() const { return file; }
    const std::string& GetDescription() const { return description; }

protected:
    // For derived classes that fill the description themselves.
    CException(uint32_t code, int line, const char* file, std::string description);

    uint32_t code;
    int line;
    std::string file;
    std::string description;
};

// printf into a string of exactly the needed length; empty if memory runs out.
std::string FormatString(const char* format, va_list arguments);
std::string FormatString(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Looks `code` up in the message catalog standing in for `messageFile`
// ("TavCommonError.dll", ...) and formats it with `arguments`.
std::string LoadMessage(const char* messageFile, uint32_t code, va_list arguments);
std::string LoadMessage(const char* messageFile, uint32_t code, ...);

namespace Detail {
// LoadMessage for inserts of known kinds: a catalog text whose conversions do
// not fit them is returned unformatted.
std::string LoadCheckedMessage(const char* messageFile, uint32_t code, const InsertKind* kinds, size_t count, ...);
}

template <class ResourceName>
class CExceptionDerivation : public CException {
public:
    CExceptionDerivation() = default;

    template <typename... Args>
    CExceptionDerivation(uint32_t code, int line, const char* file, Args... args)
        : CException(code, line, file,
                     Detail::LoadCheckedMessage(ResourceName::GetName(), code, Detail::InsertKinds<Args...>::values,
                                                Detail::InsertKinds<Args...>::count, args...))
    {
    }
};

struct CommonErrorRessourceName {
    static const char* GetName() { return "TavCommonError.dll"; }
};
struct CoreErrorResourceName {
    static const char* GetName() { return "TavCoreError.dll"; }
};
struct DataBufferErrorRessourceName {
    static const char* GetName() { return "TavDataBufferError.dll"; }
};
struct TiffErrorRessourceName {
    static const char* GetName() { return "TavTiffError.dll"; }
};

using CCommonException = CExceptionDerivation<CommonErrorRessourceName>;
using CCoreException = CExceptionDerivation<CoreErrorResourceName>;
using CDataBufferException = CExceptionDerivation<DataBufferErrorRessourceName>;
using CTiffException = CExceptionDerivation<TiffErrorRessourceName>;

} // namespace Tav
