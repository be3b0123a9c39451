// SPDX-License-Identifier: LGPL-2.1-or-later
// Shared by the test loader modules and the tests that drive them: every call a module receives
// is recorded here, and the tests script what the modules do and where they fail.
#ifndef TAMBA_TESTS_LOADING_RECORDER_H
#define TAMBA_TESTS_LOADING_RECORDER_H

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "tamba/tamba.h"

#define TAMBA_RECORDER_API __attribute__ ((visibility ("default")))

namespace tamba::test {

// The four callbacks and the user data a module's begin_load received.
struct Callbacks {
    TambaPrepareFunc prepare = nullptr;
    TambaUpdateFunc update = nullptr;
    TambaFrameDoneFunc frame_done = nullptr;
    TambaAnimationDoneFunc animation_done = nullptr;
    gpointer user_data = nullptr;
};

// One call a module received (or a note the test added, such as a signal).
struct Call {
    std::string module;  // format name, "" for a note
    int origin = 0;      // which copy of the module: 1 module directory, 2 library search
    std::string entry;   // "begin_load", "load_increment", ... or the note
    std::vector<guchar> bytes;  // what load_increment got; what load read from the file's start
    const guchar *address = nullptr;  // where load_increment's bytes were
};

struct TAMBA_RECORDER_API Recorder {
    std::vector<Call> calls;
    // Entries that fail: "begin_load" returns NULL, "load", "load_animation" and
    // "load_xpm_data" return NULL.
    std::set<std::string> failing;
    // Runs inside each load_increment; its result is the increment's. Default: TRUE.
    std::function<bool (const Callbacks &, const Call &)> on_increment;
    // Runs inside stop_load, before the context is freed.
    std::function<void (const Callbacks &)> on_stop;
    // What the latest begin_load received; kept after stop_load, so a test can play a module
    // that calls back too late.
    Callbacks last;

    void note (std::string text);
    // The calls as "gif:load_increment(128)", "gif:stop_load", or the note's text.
    std::vector<std::string> trace () const;
    void reset ();
};

TAMBA_RECORDER_API Recorder &recorder ();

// A new w x h RGB image whose pixels are all `value`.
TAMBA_RECORDER_API Tamba *filled_image (int width, int height, guchar value);

}  // namespace tamba::test

#endif
