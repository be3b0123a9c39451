// SPDX-License-Identifier: LGPL-2.1-or-later
// Helpers shared by the loading tests: temporary files, counting image releases, and a loader
// whose signals are noted in order.
#ifndef TAMBA_TESTS_LOADING_TEST_H
#define TAMBA_TESTS_LOADING_TEST_H

#include <glib/gstdio.h>

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

// A file in a fresh temporary folder, removed with the object.
class TempFile {
public:
    explicit TempFile (const std::vector<guchar> &bytes, const char *name = "image")
    {
        dir_ = g_dir_make_tmp ("tamba-loading-XXXXXX", nullptr);
        path_ = std::string (dir_) + "/" + name;
        g_file_set_contents (path_.c_str (), reinterpret_cast<const char *> (bytes.data ()),
                             gssize (bytes.size ()), nullptr);
    }
    ~TempFile ()
    {
        g_unlink (path_.c_str ());
        g_rmdir (dir_);
        g_free (dir_);
    }
    TempFile (const TempFile &) = delete;
    TempFile &operator= (const TempFile &) = delete;
    const char *path () const { return path_.c_str (); }

private:
    gchar *dir_;
    std::string path_;
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

// Connects to the loader's five signals; each emission is handed to `note` as text, e.g.
// "area_updated(0,0,4,3)".
template <typename Note>
void note_signals (TambaLoader *loader, Note *note)
{
    g_signal_connect (loader, "area_prepared",
                      G_CALLBACK (+[] (TambaLoader *, Note *n) { (*n) ("area_prepared"); }), note);
    g_signal_connect (loader, "area_updated",
                      G_CALLBACK (+[] (TambaLoader *, int x, int y, int w, int h, Note *n) {
                          (*n) ("area_updated(" + std::to_string (x) + "," + std::to_string (y)
                                + "," + std::to_string (w) + "," + std::to_string (h) + ")");
                      }),
                      note);
    g_signal_connect (loader, "frame_done",
                      G_CALLBACK (+[] (TambaLoader *, TambaFrame *, Note *n) {
                          (*n) ("frame_done");
                      }),
                      note);
    g_signal_connect (loader, "animation_done",
                      G_CALLBACK (+[] (TambaLoader *, Note *n) { (*n) ("animation_done"); }), note);
    g_signal_connect (loader, "closed",
                      G_CALLBACK (+[] (TambaLoader *, Note *n) { (*n) ("closed"); }), note);
}

}  // namespace tamba::test

#endif
