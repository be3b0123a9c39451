// SPDX-License-Identifier: LGPL-2.1-or-later
// The image record: constructors, the rowstride rule, overflow refusals, reference counting and
// the accessors' failure values.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "log-capture.h"
#include "tamba/tamba.h"

using tamba::test::LogCapture;
using Strings = std::vector<std::string>;

namespace {

struct RowstrideCase {
    gboolean has_alpha;
    int width;
    int rowstride;
    int n_channels;
};

void PrintTo (const RowstrideCase &c, std::ostream *os)
{
    *os << "width " << c.width << (c.has_alpha ? " with alpha" : "");
}

class Rowstride : public ::testing::TestWithParam<RowstrideCase> {};

TEST_P (Rowstride, PadsRowsToFourBytes)
{
    const auto c = GetParam ();
    LogCapture log;
    Tamba *t = tamba_new (GDK_COLORSPACE_RGB, c.has_alpha, 8, c.width, 3);
    ASSERT_NE (t, nullptr);
    EXPECT_EQ (std::vector<int> ({t->rowstride, t->n_channels, int (t->has_alpha), t->ref_count}),
               std::vector<int> ({c.rowstride, c.n_channels, c.n_channels == 4, 1}));
    // The whole buffer is writable (the sanitizer build checks the bounds).
    std::memset (t->pixels, 0xab, size_t (t->rowstride) * 3);
    tamba_unref (t);
    EXPECT_TRUE (log.messages ().empty ());
}

INSTANTIATE_TEST_SUITE_P (Widths, Rowstride,
                          ::testing::Values (RowstrideCase{FALSE, 1, 4, 3}, RowstrideCase{FALSE, 5, 16, 3},
                                             RowstrideCase{TRUE, 5, 20, 4}, RowstrideCase{7, 1, 4, 4}));

struct RefusalCase {
    const char *what;
    int colorspace;
    int bits;
    int width;
    int height;
    const char *message;  // nullptr: refused silently
};

void PrintTo (const RefusalCase &c, std::ostream *os) { *os << c.what; }

class Refusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P (Refusal, ReturnsNullWithTheDocumentedMessage)
{
    const auto c = GetParam ();
    LogCapture log;
    EXPECT_EQ (tamba_new (GdkColorspace (c.colorspace), TRUE, c.bits, c.width, c.height), nullptr)
        << c.what;
    EXPECT_EQ (log.criticals (), c.message ? Strings{c.message} : Strings{}) << c.what;
    EXPECT_EQ (log.messages ().size (), c.message ? 1u : 0u) << c.what;
}

INSTANTIATE_TEST_SUITE_P (
    Cases, Refusal,
    ::testing::Values (
        RefusalCase{"colorspace", 1, 8, 1, 1, "colorspace == GDK_COLORSPACE_RGB"},
        RefusalCase{"bits", 0, 16, 1, 1, "bits_per_sample == 8"},
        RefusalCase{"zero width", 0, 8, 0, 1, "width > 0"},
        RefusalCase{"negative height", 0, 8, 1, -1, "height > 0"},
        RefusalCase{"width x 4 overflows", 0, 8, INT_MAX / 4 + 1, 1, nullptr},
        // height x rowstride passes 2^32: a 32-bit product would wrap to a small buffer.
        RefusalCase{"size wraps", 0, 8, 65536, 16385, nullptr},
        RefusalCase{"both huge", 0, 8, INT_MAX / 8, INT_MAX, nullptr}));

TEST (ImageNew, LargestPaddedWidthThatFitsIsNotRefusedForOverflow)
{
    // (INT_MAX / 4) x 4 + 3 is exactly INT_MAX; with height 1 the size is under 2^32, so only
    // the allocator may say no.
    LogCapture log;
    Tamba *t = tamba_new (GDK_COLORSPACE_RGB, TRUE, 8, INT_MAX / 4, 1);
    if (t) {
        EXPECT_EQ (t->rowstride, INT_MAX - 3);
        tamba_unref (t);
    }
    EXPECT_TRUE (log.messages ().empty ());
}

struct DataRefusal {
    const guchar *data;
    int colorspace, bits, width, height;
    const char *message;
};

TEST (ImageNewFromData, ChecksInOrderAndWrapsWithoutCopying)
{
    static guchar buf[64];
    const DataRefusal cases[] = {
        {nullptr, 1, 16, 0, 0, "data != NULL"},
        {buf, 1, 16, 0, 0, "colorspace == GDK_COLORSPACE_RGB"},
        {buf, 0, 16, 0, 0, "bits_per_sample == 8"},
        {buf, 0, 8, 0, 0, "width > 0"},
        {buf, 0, 8, 1, 0, "height > 0"},
    };
    for (const auto &c : cases) {
        LogCapture log;
        EXPECT_EQ (tamba_new_from_data (c.data, GdkColorspace (c.colorspace), FALSE, c.bits,
                                        c.width, c.height, 4, nullptr, nullptr),
                   nullptr);
        EXPECT_EQ (log.criticals (), Strings{c.message});
    }

    LogCapture log;
    Tamba *t = tamba_new_from_data (buf, GDK_COLORSPACE_RGB, 9, 8, 2, 2, 0, nullptr, nullptr);
    ASSERT_NE (t, nullptr);
    EXPECT_EQ (t->pixels, buf);
    EXPECT_EQ (t->rowstride, 0);  // not validated: every row aliases row 0
    EXPECT_EQ (t->n_channels, 4);
    EXPECT_EQ (t->has_alpha, 1u);
    tamba_unref (t);  // a null destroy_fn leaves the caller's memory alone
    EXPECT_TRUE (log.messages ().empty ());
}

struct DestroyLog {
    int calls = 0;
    guchar *pixels = nullptr;
    gpointer data = nullptr;
};

void record_destroy (guchar *pixels, gpointer data)
{
    auto *log = static_cast<DestroyLog *> (data);
    log->calls++;
    log->pixels = pixels;
    log->data = data;
}

TEST (ImageCopy, CopiesUpToTheLastPixelAndKeepsTheRowstride)
{
    // 3 x 2 RGB with rowstride 12: (2 - 1) x 12 + 3 x 3 = 21 bytes. Giving the source exactly
    // 21 bytes lets the sanitizer build catch a copy that reads the last row's padding.
    auto *src = static_cast<guchar *> (g_malloc (21));
    for (int i = 0; i < 21; ++i) src[i] = guchar (i * 7);
    DestroyLog destroyed;
    Tamba *t = tamba_new_from_data (src, GDK_COLORSPACE_RGB, FALSE, 8, 3, 2, 12, record_destroy,
                                    &destroyed);
    tamba_set_last_unref_handler (t, [] (Tamba *, gpointer) {}, nullptr);

    Tamba *c = tamba_copy (t);
    ASSERT_NE (c, nullptr);
    EXPECT_NE (c->pixels, t->pixels);
    EXPECT_EQ (c->rowstride, 12);
    EXPECT_EQ (c->width, 3);
    EXPECT_EQ (c->height, 2);
    EXPECT_EQ (c->has_alpha, 0u);
    EXPECT_EQ (c->last_unref_fn, nullptr);  // the handler is not copied
    EXPECT_EQ (std::memcmp (c->pixels, src, 9), 0);
    EXPECT_EQ (std::memcmp (c->pixels + 12, src + 12, 9), 0);
    tamba_unref (c);

    tamba_finalize (t);
    EXPECT_EQ (destroyed.calls, 1);
    EXPECT_EQ (destroyed.pixels, src);
    EXPECT_EQ (destroyed.data, &destroyed);
    g_free (src);

    LogCapture log;
    EXPECT_EQ (tamba_copy (nullptr), nullptr);
    EXPECT_EQ (log.criticals (), Strings{"tamba != NULL"});
}

TEST (ImageCopy, RefusesANegativeRowstrideItCannotDescribe)
{
    guchar buf[24] = {};
    Tamba *t = tamba_new_from_data (buf + 12, GDK_COLORSPACE_RGB, FALSE, 8, 2, 2, -12, nullptr,
                                    nullptr);
    EXPECT_EQ (tamba_copy (t), nullptr);
    tamba_unref (t);
}

struct HandlerLog {
    int calls = 0;
    int count_seen = 0;
    bool finalize = false;
};

void last_unref (Tamba *t, gpointer data)
{
    auto *log = static_cast<HandlerLog *> (data);
    log->calls++;
    log->count_seen = t->ref_count;
    if (log->finalize) tamba_finalize (t);
}

TEST (ImageRefCount, LastUnrefHandlerTakesOverFromFinalization)
{
    guchar buf[16] = {};
    DestroyLog destroyed;
    HandlerLog handler;
    Tamba *t = tamba_new_from_data (buf, GDK_COLORSPACE_RGB, FALSE, 8, 1, 1, 4, record_destroy,
                                    &destroyed);
    tamba_set_last_unref_handler (t, last_unref, &handler);

    EXPECT_EQ (tamba_ref (t), t);
    EXPECT_EQ (t->ref_count, 2);
    tamba_unref (t);
    EXPECT_EQ (handler.calls, 0);
    EXPECT_EQ (t->ref_count, 1);

    // The handler keeps the record: nothing is freed and the count stays 1.
    tamba_unref (t);
    EXPECT_EQ (handler.calls, 1);
    EXPECT_EQ (handler.count_seen, 1);
    EXPECT_EQ (destroyed.calls, 0);
    EXPECT_EQ (t->ref_count, 1);

    // Handed out again, then ended by the handler itself.
    tamba_ref (t);
    tamba_unref (t);
    EXPECT_EQ (handler.calls, 1);
    handler.finalize = true;
    tamba_unref (t);
    EXPECT_EQ (handler.calls, 2);
    EXPECT_EQ (destroyed.calls, 1);
}

TEST (ImageRefCount, RefusalsLeaveTheRecordAlone)
{
    guchar buf[16] = {};
    DestroyLog destroyed;
    Tamba *t = tamba_new_from_data (buf, GDK_COLORSPACE_RGB, FALSE, 8, 1, 1, 4, record_destroy,
                                    &destroyed);
    {
        LogCapture log;
        tamba_ref (t);
        tamba_finalize (t);  // count 2
        EXPECT_EQ (log.criticals (), Strings{"tamba->ref_count == 1"});
        EXPECT_EQ (destroyed.calls, 0);
        tamba_unref (t);
    }
    {
        LogCapture log;
        t->ref_count = 0;
        EXPECT_EQ (tamba_ref (t), nullptr);
        tamba_unref (t);
        tamba_finalize (t);
        EXPECT_EQ (log.criticals (), (Strings{"tamba->ref_count > 0", "tamba->ref_count > 0",
                                              "tamba->ref_count == 1"}));
        EXPECT_EQ (t->ref_count, 0);
        EXPECT_EQ (destroyed.calls, 0);
        t->ref_count = 1;
        tamba_unref (t);
        EXPECT_EQ (destroyed.calls, 1);
    }
    LogCapture log;
    EXPECT_EQ (tamba_ref (nullptr), nullptr);
    tamba_unref (nullptr);
    tamba_finalize (nullptr);
    tamba_set_last_unref_handler (nullptr, nullptr, nullptr);
    EXPECT_EQ (log.criticals (), Strings (4, "tamba != NULL"));
}

TEST (ImageAccessors, FailureValues)
{
    LogCapture log;
    EXPECT_EQ (tamba_get_colorspace (nullptr), GDK_COLORSPACE_RGB);
    EXPECT_EQ (tamba_get_pixels (nullptr), nullptr);
    EXPECT_EQ ((std::vector<int>{tamba_get_n_channels (nullptr), tamba_get_has_alpha (nullptr),
                                 tamba_get_bits_per_sample (nullptr), tamba_get_width (nullptr),
                                 tamba_get_height (nullptr), tamba_get_rowstride (nullptr)}),
               std::vector<int> (6, -1));
    EXPECT_EQ (log.criticals (), Strings (8, "tamba != NULL"));
    // The full text names this source's function and the documented form.
    EXPECT_NE (log.messages ()[0].text.find ("(tamba_get_colorspace): assertion `tamba != NULL' failed."),
               std::string::npos);
}

}  // namespace
