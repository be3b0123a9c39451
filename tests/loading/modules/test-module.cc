// SPDX-License-Identifier: LGPL-2.1-or-later
// A loader module for tests: the real format's name and symbols, a trivial body that records
// every call and fails where the recorder says. Built once per format with the entries TEST_WHOLE,
// TEST_PROGRESSIVE, TEST_ANIMATION, TEST_XPM_DATA; TEST_ORIGIN tells copies of a format apart.
#include <gmodule.h>

#include <cstdio>

#include "recorder.h"

#define TEST_ENTRY(entry) G_PASTE (G_PASTE (tamba__, TEST_FORMAT), G_PASTE (_, entry))

namespace {

using namespace tamba::test;

// Records the call; false when the test made the entry fail.
bool called (const char *entry, std::vector<guchar> bytes = {}, const guchar *address = nullptr)
{
    recorder ().calls.push_back ({G_STRINGIFY (TEST_FORMAT), entry, TEST_ORIGIN, std::move (bytes), address});
    return recorder ().failing.count (entry) == 0;
}

// The first bytes from the file's current position, to show that it was rewound.
[[maybe_unused]] std::vector<guchar> read_start (FILE *f)
{
    std::vector<guchar> bytes (16);
    bytes.resize (std::fread (bytes.data (), 1, bytes.size (), f));
    return bytes;
}

}  // namespace

extern "C" {

#ifdef TEST_WHOLE
G_MODULE_EXPORT Tamba *TEST_ENTRY (image_load) (FILE *f)
{
    return called ("load", read_start (f)) ? filled_image (4, 3, TEST_ORIGIN) : nullptr;
}
#endif

#ifdef TEST_XPM_DATA
G_MODULE_EXPORT Tamba *TEST_ENTRY (image_load_xpm_data) (const char **data)
{
    const std::string first = data[0];
    return called ("load_xpm_data", {first.begin (), first.end ()}) ? filled_image (2, 2, TEST_ORIGIN) : nullptr;
}
#endif

#ifdef TEST_ANIMATION
// Two frames on a 7 x 3 canvas: 4 x 3 at 0,0 and 2 x 2 at 5,1.
G_MODULE_EXPORT TambaAnimation *TEST_ENTRY (image_load_animation) (FILE *f)
{
    if (!called ("load_animation", read_start (f))) return nullptr;
    const TambaFrame frames[] = {{filled_image (4, 3, 1), 0, 0, 10, TAMBA_FRAME_RETAIN},
                                 {filled_image (2, 2, 2), 5, 1, 20, TAMBA_FRAME_DISPOSE}};
    auto *animation = g_new0 (TambaAnimation, 1);
    *animation = {1, 2, nullptr, 7, 3};
    for (const TambaFrame &frame : frames)
        animation->frames = g_list_append (animation->frames, g_memdup2 (&frame, sizeof frame));
    return animation;
}
#endif

#ifdef TEST_PROGRESSIVE
G_MODULE_EXPORT gpointer TEST_ENTRY (image_begin_load) (
    TambaPrepareFunc prepare, TambaUpdateFunc update, TambaFrameDoneFunc frame_done,
    TambaAnimationDoneFunc animation_done, gpointer user_data)
{
    if (!called ("begin_load")) return nullptr;
    recorder ().last = {prepare, update, frame_done, animation_done, user_data};
    return new Callbacks (recorder ().last);
}

G_MODULE_EXPORT void TEST_ENTRY (image_stop_load) (gpointer context)
{
    called ("stop_load");
    auto *callbacks = static_cast<Callbacks *> (context);
    if (callbacks && recorder ().on_stop) recorder ().on_stop (*callbacks);
    delete callbacks;
}

G_MODULE_EXPORT gboolean TEST_ENTRY (image_load_increment) (gpointer context, const guchar *buf, guint size)
{
    called ("load_increment", {buf, buf + size}, buf);
    const tamba::test::Call call = recorder ().calls.back ();  // handlers add notes to the calls
    const auto &script = recorder ().on_increment;
    return context && (!script || script (*static_cast<Callbacks *> (context), call));
}
#endif

}  // extern "C"
