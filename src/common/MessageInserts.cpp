#include "Common/MessageInserts.h"

#include <cstring>

namespace Tav::Detail {

bool FormatAccepts(const char* format, const InsertKind* kinds, size_t count)
{
    if (!format)
        return count == 0;
    size_t used = 0;
    for (const char* p = format; *p; ++p) {
        if (*p != '%')
            continue;
        ++p;
        if (*p == '%')
            continue;
        while (*p && std::strchr("-+ #0'", *p))
            ++p;
        while (*p >= '0' && *p <= '9')
            ++p;
        if (*p == '.') {
            ++p;
            while (*p >= '0' && *p <= '9')
                ++p;
        }
        if (*p == '*')
            return false;
        enum { None, Short, Long, LongDouble } size = None;
        if (*p == 'h') {
            size = Short;
            ++p;
            if (*p == 'h')
                ++p;
        } else if (*p == 'l' || *p == 'z' || *p == 'j' || *p == 't' || *p == 'q') {
            size = Long;
            char first = *p++;
            if (first == 'l' && *p == 'l')
                ++p;
        } else if (*p == 'L') {
            size = LongDouble;
            ++p;
        }
        if (!*p)
            return false;
        InsertKind needed;
        switch (*p) {
        case 'd': case 'i': case 'u': case 'o': case 'x': case 'X': case 'c':
            if (size == LongDouble)
                return false;
            needed = size == Long ? InsertKind::Int64 : InsertKind::Int32;
            break;
        case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A':
            if (size == LongDouble)
                return false;
            needed = InsertKind::Double;
            break;
        case 's':
            if (size != None)
                return false;
            needed = InsertKind::String;
            break;
        case 'p':
            if (size != None)
                return false;
            needed = InsertKind::Pointer;
            break;
        default:
            return false; // %n and anything unknown
        }
        if (used >= count)
            return false;
        InsertKind given = kinds[used++];
        if (given != needed && !(needed == InsertKind::Pointer && given == InsertKind::String))
            return false;
    }
    return used == count;
}

} // namespace Tav::Detail
