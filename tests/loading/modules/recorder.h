// SPDX-License-Identifier: LGPL-2.1-or-later
// Shared by the test loader modules and the tests that drive them: every call a module receives
// is recorded here, and the tests script what the modules do and where they fail.
#ifndef TAMBA_TESTS_LOADING_RECORDER_H
#define TAMBA_TESTS_LOADING_RECORDER_H

#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "tamba/tamba.h"

namespace tamba::test {

// The four callbacks and the user data a module's begin_load received.
struct Callbacks {
    TambaPrepareFunc prepare; TambaUpdateFunc update; TambaFrameDoneFunc frame_done; TambaAnimationDoneFunc animation_done;
    gpointer user_data;
};

// One call a module received, or (module "") a note the test added, such as a signal.
struct Call {
    std::string module, entry;
    int origin;                 // which copy of the module: 1 module directory, 2 library search
    std::vector<guchar> bytes;  // what load_increment got; what load read from the file's start
    const guchar *address;      // where load_increment's bytes were
};

struct __attribute__ ((visibility ("default"))) Recorder {
    std::vector<Call> calls;
    std::set<std::string> failing;  // entries that fail: "begin_load", "load", ... return NULL
    // Runs inside each load_increment; its result is the increment's. Default: TRUE.
    std::function<bool (const Callbacks &, const Call &)> on_increment;
    std::function<void (const Callbacks &)> on_stop;  // inside stop_load, before the context goes
    // What the latest begin_load received; kept after stop_load, to play a module that calls
    // back too late.
    Callbacks last {};

    void note (std::string text) { calls.push_back ({"", std::move (text), 0, {}, nullptr}); }
    void reset () { *this = Recorder (); }
    // The calls as "gif:load_increment(128)", "gif:stop_load", or the note's text.
    std::vector<std::string> trace () const
    {
        std::vector<std::string> out;
        for (const Call &c : calls)
            out.push_back (c.module.empty () ? c.entry
                           : c.module + ":" + c.entry
                                 + (c.entry == "load_increment" ? "(" + std::to_string (c.bytes.size ()) + ")" : ""));
        return out;
    }
};

// The one recorder of the process, shared by the test and every module it opens.
__attribute__ ((visibility ("default"))) Recorder &recorder ();

// A new w x h RGB image whose pixels are all `value`.
inline Tamba *filled_image (int width, int height, guchar value)
{
    Tamba *t = tamba_new (GDK_COLORSPACE_RGB, FALSE, 8, width, height);
    std::memset (t->pixels, value, size_t (t->rowstride) * size_t (height));
    return t;
}

}  // namespace tamba::test

#endif
