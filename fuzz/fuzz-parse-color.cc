// SPDX-License-Identifier: LGPL-2.1-or-later
// tamba_parse_color on the input as one string (up to its first NUL): a refused specification
// stores nothing, an accepted one the same channels every time, with or without NULL pointers.
#include <string>

#include "fuzz-input.h"
#include "tamba/tamba.h"

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t *data, size_t size)
{
    const std::string spec (reinterpret_cast<const char *> (data), size);
    constexpr guint16 kUnset = 0xBEEF;
    guint16 r = kUnset, g = kUnset, b = kUnset;
    const gboolean ok = tamba_parse_color (spec.c_str (), &r, &g, &b);
    if (!ok && (r != kUnset || g != kUnset || b != kUnset))
        tamba::fuzz::fail ("a refused colour stored channels");
    guint16 green = kUnset;
    if (tamba_parse_color (spec.c_str (), nullptr, &green, nullptr) != ok || (ok && green != g))
        tamba::fuzz::fail ("the same colour parsed differently");
    return 0;
}
