// SPDX-License-Identifier: LGPL-2.1-or-later
// Helpers shared by the loading tests: temporary files, counting image releases, and a loader
// whose signals are noted in order.
#ifndef TAMBA_TESTS_LOADING_TEST_H
#define TAMBA_TESTS_LOADING_TEST_H

#include <glib/gstdio.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tamba/tamba.h"

#ifdef TEST_MODULE_DIR
#include "tamba-hooks.h"
// The module tests open modules from their set's folder of this build, set before any test runs.
inline const bool module_dir_set = (tamba::hooks::set_module_dir (TEST_MODULE_DIR), true);
#endif

namespace tamba::test {

// A temporary file holding `bytes`, removed with the object.
struct TempFile {
    explicit TempFile (const std::vector<guchar> &bytes)
        : path_ (std::string (g_get_tmp_dir ()) + "/tamba-loading-" + std::to_string (getpid ()) + "-" + std::to_string (count_++))
    {
        g_file_set_contents (path (), reinterpret_cast<const char *> (bytes.data ()), gssize (bytes.size ()), nullptr);
    }
    ~TempFile () { g_unlink (path ()); }
    const char *path () const { return path_.c_str (); }
    std::string path_;
    static inline int count_ = 0;
};

// `size` bytes starting with `prefix`, padded with a byte pattern that matches no format.
inline std::vector<guchar> bytes_of (const std::string &prefix, size_t size)
{
    std::vector<guchar> out (prefix.begin (), prefix.end ());
    while (out.size () < size) out.push_back (guchar (0x40 + out.size () % 17));
    out.resize (size);
    return out;
}

// Counts how many watched images were finalized.
struct ReleaseCounter {
    int released = 0;
    void watch (Tamba *image) { tamba_set_last_unref_handler (image, &on_last_unref, this); }
    static void on_last_unref (Tamba *image, gpointer self)
    {
        static_cast<ReleaseCounter *> (self)->released++;
        tamba_finalize (image);
    }
};

// Connects to the loader's five signals; each emission is handed to `note` as text, such as
// "area_updated(0,0,4,3)".
using Note = std::function<void (std::string)>;
inline void note_signals (TambaLoader *loader, Note *note)
{
    const auto on = [&] (const char *signal, auto handler) { g_signal_connect (loader, signal, G_CALLBACK (+handler), note); };
    on ("area_prepared", [] (TambaLoader *, Note *n) { (*n) ("area_prepared"); });
    on ("area_updated", [] (TambaLoader *, int x, int y, int w, int h, Note *n) {
        (*n) ("area_updated(" + std::to_string (x) + "," + std::to_string (y) + "," + std::to_string (w) + ","
              + std::to_string (h) + ")");
    });
    on ("frame_done", [] (TambaLoader *, TambaFrame *, Note *n) { (*n) ("frame_done"); });
    on ("animation_done", [] (TambaLoader *, Note *n) { (*n) ("animation_done"); });
    on ("closed", [] (TambaLoader *, Note *n) { (*n) ("closed"); });
}

}  // namespace tamba::test

#endif
