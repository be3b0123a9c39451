// SPDX-License-Identifier: LGPL-2.1-or-later
// A loader module for tests: the real format's name and symbols, a trivial body. Every call is
// recorded; what it decodes and where it fails is scripted through the recorder. Built once per
// format with the entries chosen by TEST_WHOLE, TEST_PROGRESSIVE, TEST_ANIMATION and
// TEST_XPM_DATA; TEST_ORIGIN tells copies of one format apart.
#include <gmodule.h>

#include <cstdio>

#include "recorder.h"

#define TEST_ENTRY(entry) G_PASTE (G_PASTE (tamba__, TEST_FORMAT), G_PASTE (_, entry))

namespace {

using tamba::test::recorder;

const char *const kName = G_STRINGIFY (TEST_FORMAT);

tamba::test::Call &record (const char *entry, std::vector<guchar> bytes = {},
                          const guchar *address = nullptr)
{
    recorder ().calls.push_back ({kName, TEST_ORIGIN, entry, std::move (bytes), address});
    return recorder ().calls.back ();
}

bool fails (const char *entry)
{
    return recorder ().failing.count (entry) > 0;
}

// The first bytes from the file's current position, to show that it was rewound.
[[maybe_unused]] std::vector<guchar> read_start (FILE *f)
{
    std::vector<guchar> bytes (16);
    bytes.resize (std::fread (bytes.data (), 1, bytes.size (), f));
    return bytes;
}

struct Context {
    tamba::test::Callbacks callbacks;
};

}  // namespace

extern "C" {

#ifdef TEST_WHOLE
G_MODULE_EXPORT Tamba *TEST_ENTRY (image_load) (FILE *f)
{
    record ("load", read_start (f));
    return fails ("load") ? nullptr : tamba::test::filled_image (4, 3, TEST_ORIGIN);
}
#endif

#ifdef TEST_XPM_DATA
G_MODULE_EXPORT Tamba *TEST_ENTRY (image_load_xpm_data) (const char **data)
{
    const std::string first = data && data[0] ? data[0] : "";
    record ("load_xpm_data", std::vector<guchar> (first.begin (), first.end ()));
    return fails ("load_xpm_data") ? nullptr : tamba::test::filled_image (2, 2, TEST_ORIGIN);
}
#endif

#ifdef TEST_ANIMATION
// Two frames: 4 x 3 at 0,0 and 2 x 2 at 5,1.
G_MODULE_EXPORT TambaAnimation *TEST_ENTRY (image_load_animation) (FILE *f)
{
    record ("load_animation", read_start (f));
    if (fails ("load_animation")) return nullptr;
    auto *animation = static_cast<TambaAnimation *> (g_malloc0 (sizeof (TambaAnimation)));
    animation->ref_count = 1;
    const TambaFrame frames[] = {
        {tamba::test::filled_image (4, 3, 1), 0, 0, 10, TAMBA_FRAME_RETAIN},
        {tamba::test::filled_image (2, 2, 2), 5, 1, 20, TAMBA_FRAME_DISPOSE},
    };
    for (const TambaFrame &frame : frames) {
        animation->frames = g_list_append (animation->frames, g_memdup2 (&frame, sizeof frame));
        animation->n_frames++;
    }
    animation->width = 7;
    animation->height = 3;
    return animation;
}
#endif

#ifdef TEST_PROGRESSIVE
G_MODULE_EXPORT gpointer TEST_ENTRY (image_begin_load) (
    TambaPrepareFunc prepare, TambaUpdateFunc update, TambaFrameDoneFunc frame_done,
    TambaAnimationDoneFunc animation_done, gpointer user_data)
{
    record ("begin_load");
    if (fails ("begin_load")) return nullptr;
    auto *context = new Context {{prepare, update, frame_done, animation_done, user_data}};
    recorder ().last = context->callbacks;
    return context;
}

G_MODULE_EXPORT void TEST_ENTRY (image_stop_load) (gpointer data)
{
    record ("stop_load");
    auto *context = static_cast<Context *> (data);
    if (!context) {
        recorder ().note ("stop_load without a context");
        return;
    }
    if (recorder ().on_stop) recorder ().on_stop (context->callbacks);
    delete context;
}

G_MODULE_EXPORT gboolean TEST_ENTRY (image_load_increment) (gpointer data, const guchar *buf,
                                                          guint size)
{
    const tamba::test::Call call =
        record ("load_increment", std::vector<guchar> (buf, buf + size), buf);
    auto *context = static_cast<Context *> (data);
    if (!context) {
        recorder ().note ("load_increment without a context");
        return FALSE;
    }
    return !recorder ().on_increment || recorder ().on_increment (context->callbacks, call);
}
#endif

}  // extern "C"
