// SPDX-License-Identifier: LGPL-2.1-or-later
#include "recorder.h"

#include <cstring>

namespace tamba::test {

void Recorder::note (std::string text)
{
    calls.push_back ({"", 0, std::move (text), {}, nullptr});
}

std::vector<std::string> Recorder::trace () const
{
    std::vector<std::string> out;
    for (const Call &c : calls) {
        if (c.module.empty ()) {
            out.push_back (c.entry);
            continue;
        }
        std::string s = c.module + ":" + c.entry;
        if (c.entry == "load_increment") s += "(" + std::to_string (c.bytes.size ()) + ")";
        out.push_back (s);
    }
    return out;
}

void Recorder::reset ()
{
    *this = Recorder ();
}

Recorder &recorder ()
{
    static Recorder r;
    return r;
}

Tamba *filled_image (int width, int height, guchar value)
{
    Tamba *t = tamba_new (GDK_COLORSPACE_RGB, FALSE, 8, width, height);
    if (t) std::memset (t->pixels, value, size_t (t->rowstride) * size_t (height));
    return t;
}

}  // namespace tamba::test
