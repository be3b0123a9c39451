// SPDX-License-Identifier: LGPL-2.1-or-later
// The image record: constructors, the rowstride rule, overflow refusals, reference counting and
// the accessors' failure values.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "log-capture.h"
#include "tamba/tamba.h"

using tamba::test::LogCapture;
using Strings = std::vector<std::string>;

namespace {

TEST (ImageNew, PadsRowsToFourBytes)
{
    LogCapture log;
    // (has_alpha, width, rowstride, channels); any non-zero has_alpha means alpha.
    for (const auto &[has_alpha, width, rowstride, channels] : {std::tuple{0, 1, 4, 3}, {0, 5, 16, 3}, {1, 5, 20, 4}, {7, 1, 4, 4}}) {
        Tamba *t = tamba_new (GDK_COLORSPACE_RGB, has_alpha, 8, width, 3);
        ASSERT_NE (t, nullptr);
        EXPECT_EQ (std::vector<int> ({t->rowstride, t->n_channels, int (t->has_alpha), t->ref_count}),
                   std::vector<int> ({rowstride, channels, channels == 4, 1}));
        std::memset (t->pixels, 0xab, size_t (t->rowstride) * 3);  // the sanitizer build checks the bounds
        tamba_unref (t);
    }
    // (INT_MAX / 4) x 4 + 3 is exactly INT_MAX; at height 1 the size is under 2^32, so only the
    // allocator may say no.
    if (Tamba *t = tamba_new (GDK_COLORSPACE_RGB, TRUE, 8, INT_MAX / 4, 1)) {
        EXPECT_EQ (t->rowstride, INT_MAX - 3);
        tamba_unref (t);
    }
    EXPECT_TRUE (log.messages ().empty ());
}

// Both constructors check in order and give NULL with the documented message; sizes that
// overflow are refused silently.
TEST (ImageNew, RefusalsInOrder)
{
    static guchar buf[64];
    struct Case {
        bool wrap;
        const guchar *data;
        int colorspace, bits, width, height;
        const char *message;
    };
    const Case cases[] = {
        {false, nullptr, 1, 8, 1, 1, "colorspace == GDK_COLORSPACE_RGB"},
        {false, nullptr, 0, 16, 1, 1, "bits_per_sample == 8"},
        {false, nullptr, 0, 8, 0, 1, "width > 0"},
        {false, nullptr, 0, 8, 1, -1, "height > 0"},
        {false, nullptr, 0, 8, INT_MAX / 4 + 1, 1, nullptr},
        // height x rowstride passes 2^32: a 32-bit product would wrap to a small buffer.
        {false, nullptr, 0, 8, 65536, 16385, nullptr},
        {false, nullptr, 0, 8, INT_MAX / 8, INT_MAX, nullptr},
        {true, nullptr, 1, 16, 0, 0, "data != NULL"},
        {true, buf, 1, 16, 0, 0, "colorspace == GDK_COLORSPACE_RGB"},
        {true, buf, 0, 16, 0, 0, "bits_per_sample == 8"},
        {true, buf, 0, 8, 0, 0, "width > 0"},
        {true, buf, 0, 8, 1, 0, "height > 0"},
    };
    for (const Case &c : cases) {
        LogCapture log;
        const auto cs = GdkColorspace (c.colorspace);
        EXPECT_EQ (c.wrap ? tamba_new_from_data (c.data, cs, FALSE, c.bits, c.width, c.height, 4, nullptr, nullptr)
                          : tamba_new (cs, TRUE, c.bits, c.width, c.height),
                   nullptr) << c.width << "x" << c.height;
        EXPECT_EQ (log.criticals (), c.message ? Strings{c.message} : Strings{});
        EXPECT_EQ (log.messages ().size (), c.message ? 1u : 0u);
    }
    LogCapture log;
    Tamba *t = tamba_new_from_data (buf, GDK_COLORSPACE_RGB, 9, 8, 2, 2, 0, nullptr, nullptr);
    ASSERT_NE (t, nullptr);
    EXPECT_EQ (t->pixels, buf);  // wrapped, not copied
    EXPECT_EQ (std::vector<int> ({t->rowstride, t->n_channels, int (t->has_alpha)}),
               std::vector<int> ({0, 4, 1}));  // rowstride not validated: every row aliases row 0
    tamba_unref (t);  // a null destroy_fn leaves the caller's memory alone
    EXPECT_TRUE (log.messages ().empty ());
}

struct Calls {
    int destroyed = 0, handled = 0, count_seen = 0;
    guchar *pixels = nullptr;
    bool finalize = false;  // the last-unref handler ends the record itself
};

void record_destroy (guchar *pixels, gpointer data)
{
    auto *calls = static_cast<Calls *> (data);
    calls->destroyed++, calls->pixels = pixels;
}

void last_unref (Tamba *t, gpointer data)
{
    auto *calls = static_cast<Calls *> (data);
    calls->handled++;
    calls->count_seen = t->ref_count;
    if (calls->finalize) tamba_finalize (t);
}

TEST (ImageCopy, CopiesUpToTheLastPixelAndKeepsTheRowstride)
{
    // 3 x 2 RGB with rowstride 12: (2 - 1) x 12 + 3 x 3 = 21 bytes. Giving the source exactly
    // 21 bytes lets the sanitizer build catch a copy that reads the last row's padding.
    auto *src = static_cast<guchar *> (g_malloc (21));
    for (int i = 0; i < 21; ++i) src[i] = guchar (i * 7);
    Calls calls;
    Tamba *t = tamba_new_from_data (src, GDK_COLORSPACE_RGB, FALSE, 8, 3, 2, 12, record_destroy, &calls);
    tamba_set_last_unref_handler (t, last_unref, &calls);
    Tamba *c = tamba_copy (t);
    ASSERT_NE (c, nullptr);
    EXPECT_NE (c->pixels, t->pixels);
    EXPECT_EQ (std::vector<int> ({c->rowstride, c->width, c->height, int (c->has_alpha)}),
               std::vector<int> ({12, 3, 2, 0}));
    EXPECT_EQ (c->last_unref_fn, nullptr);  // the handler is not copied
    EXPECT_EQ (std::memcmp (c->pixels, src, 9), 0);
    EXPECT_EQ (std::memcmp (c->pixels + 12, src + 12, 9), 0);
    tamba_unref (c);
    tamba_finalize (t);
    EXPECT_EQ (std::pair (calls.destroyed, calls.pixels), std::pair (1, src));
    g_free (src);

    // A negative rowstride cannot be described by a copy.
    guchar buf[24] = {};
    t = tamba_new_from_data (buf + 12, GDK_COLORSPACE_RGB, FALSE, 8, 2, 2, -12, nullptr, nullptr);
    EXPECT_EQ (tamba_copy (t), nullptr);
    tamba_unref (t);
    LogCapture log;
    EXPECT_EQ (tamba_copy (nullptr), nullptr);
    EXPECT_EQ (log.criticals (), Strings{"tamba != NULL"});
}

// The state after each step: (handler calls, count it saw, destroy calls, reference count).
std::vector<int> state (const Calls &c, const Tamba *t) { return {c.handled, c.count_seen, c.destroyed, t->ref_count}; }

// Misuse is refused and leaves the record alone; a last-unref handler takes over from
// finalization.
TEST (ImageRefCount, RefusalsAndTheLastUnrefHandler)
{
    guchar buf[16] = {};
    Calls calls;
    Tamba *t = tamba_new_from_data (buf, GDK_COLORSPACE_RGB, FALSE, 8, 1, 1, 4, record_destroy, &calls);
    {
        LogCapture log;
        tamba_finalize (tamba_ref (t));  // count 2
        tamba_unref (t);
        t->ref_count = 0;
        EXPECT_EQ (tamba_ref (t), nullptr);
        tamba_unref (t);
        tamba_finalize (t);
        EXPECT_EQ (log.criticals (), (Strings{"tamba->ref_count == 1", "tamba->ref_count > 0", "tamba->ref_count > 0",
                                              "tamba->ref_count == 1"}));
        EXPECT_EQ (state (calls, t), (std::vector<int>{0, 0, 0, 0}));
        t->ref_count = 1;
    }
    tamba_set_last_unref_handler (t, last_unref, &calls);
    EXPECT_EQ (tamba_ref (t), t);
    EXPECT_EQ (state (calls, t), (std::vector<int>{0, 0, 0, 2}));
    tamba_unref (t);
    tamba_unref (t);  // the handler keeps the record: nothing is freed and the count stays 1
    EXPECT_EQ (state (calls, t), (std::vector<int>{1, 1, 0, 1}));
    tamba_unref (tamba_ref (t));  // handed out again, then ended by the handler itself
    calls.finalize = true;
    tamba_unref (t);
    EXPECT_EQ (std::pair (calls.handled, calls.destroyed), std::pair (2, 1));
}

}  // namespace
