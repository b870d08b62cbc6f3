#pragma once

// Type-checked message inserts. Catalog texts are printf formats read from
// files; before one is formatted, its conversions are checked against the
// inserts the raise site passes, so a wrong catalog line can never make
// printf read arguments that are not there.

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace Tav::Detail {

enum class InsertKind : uint8_t { Int32, Int64, Double, String, Pointer };

template <typename T>
constexpr InsertKind KindOf()
{
    using U = std::decay_t<T>;
    static_assert(std::is_arithmetic_v<U> || std::is_pointer_v<U> || std::is_enum_v<U>,
                  "message inserts must be numbers or C strings");
    if constexpr (std::is_enum_v<U>) {
        return sizeof(U) > 4 ? InsertKind::Int64 : InsertKind::Int32;
    } else if constexpr (std::is_floating_point_v<U>) {
        static_assert(!std::is_same_v<U, long double>, "long double inserts are not supported");
        return InsertKind::Double;
    } else if constexpr (std::is_integral_v<U>) {
        return sizeof(U) > 4 ? InsertKind::Int64 : InsertKind::Int32;
    } else if constexpr (std::is_same_v<std::remove_cv_t<std::remove_pointer_t<U>>, char>) {
        return InsertKind::String;
    } else {
        return InsertKind::Pointer;
    }
}

// The kinds of an insert list; never an empty array.
template <typename... Args>
struct InsertKinds {
    static constexpr InsertKind values[sizeof...(Args) + 1] = {KindOf<Args>()..., InsertKind::Int32};
    static constexpr size_t count = sizeof...(Args);
};

// True when the conversions of `format` take exactly `count` inserts of
// these kinds, in order. '*' widths, %n and wide or long double conversions
// are never accepted.
bool FormatAccepts(const char* format, const InsertKind* kinds, size_t count);

} // namespace Tav::Detail
