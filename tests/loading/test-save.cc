// SPDX-License-Identifier: LGPL-2.1-or-later
// Saving through the real modules and loading back, the ways saving fails, and loading at a
// size (a reduced JPEG decode among them). The modules are found through the library search
// (LD_LIBRARY_PATH).
#include <gtest/gtest.h>

#include <glib/gstdio.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "corpus.h"
#include "modules.h"
#include "log-capture.h"
#include "tamba-loading.h"

namespace {

using tamba::test::LogCapture;

struct Unref {
    void operator() (Tamba *t) const { tamba_unref (t); }
};
using Image = std::unique_ptr<Tamba, Unref>;

// A w x h image whose rows carry 5 bytes of padding filled with 0xEE, which no saver may write.
// Smooth images are gradients (fit for JPEG); the others vary from pixel to pixel, alpha
// included.
Image test_image (int w, int h, bool alpha, bool smooth)
{
    const int nc = alpha ? 4 : 3;
    const int stride = w * nc + 5;
    auto *data = static_cast<guchar *> (g_malloc (size_t (stride) * size_t (h)));
    std::memset (data, 0xEE, size_t (stride) * size_t (h));
    guint32 seed = 12345;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            guchar *p = data + y * stride + x * nc;
            for (int c = 0; c < nc; ++c) {
                seed = seed * 1103515245u + 12345u;
                p[c] = smooth ? guchar ((x * 255 / (w - 1) * (c + 1) + y * 255 / (h - 1)) / (c + 2))
                              : guchar (seed >> 16);
            }
            if (alpha && x == 0) p[3] = 0;  // a fully transparent column keeps its colour too
        }
    return Image (tamba_new_from_data (data, GDK_COLORSPACE_RGB, alpha, 8, w, h, stride,
                                       [] (guchar *pixels, gpointer) { g_free (pixels); },
                                       nullptr));
}

// A fresh path in a folder removed with the fixture.
class SaveTest : public ::testing::Test {
protected:
    void SetUp () override { dir_ = g_dir_make_tmp ("tamba-save-XXXXXX", nullptr); }
    void TearDown () override
    {
        if (GDir *d = g_dir_open (dir_, 0, nullptr)) {
            while (const char *name = g_dir_read_name (d)) g_remove (path (name).c_str ());
            g_dir_close (d);
        }
        g_rmdir (dir_);
        g_free (dir_);
    }
    std::string path (const std::string &name) const { return std::string (dir_) + "/" + name; }

    gchar *dir_ = nullptr;
};

std::string save_warning (const std::string &file, const std::string &reason)
{
    gchar *text = g_strdup_printf (tamba::detail::kSaveFailed, file.c_str (), reason.c_str ());
    std::string s (text);
    g_free (text);
    return s;
}

// The largest difference between two images' RGB samples (alpha ignored), or -1 when their
// sizes differ.
int max_rgb_difference (const Tamba *a, const Tamba *b)
{
    if (a->width != b->width || a->height != b->height) return -1;
    int worst = 0;
    for (int y = 0; y < a->height; ++y)
        for (int x = 0; x < a->width; ++x)
            for (int c = 0; c < 3; ++c) {
                const int d = a->pixels[y * a->rowstride + x * a->n_channels + c]
                              - b->pixels[y * b->rowstride + x * b->n_channels + c];
                worst = std::max (worst, std::abs (d));
            }
    return worst;
}

struct RoundTrip {
    const char *name;
    const char *format;
    bool alpha;
    bool loaded_alpha;  // what comes back
    int tolerance;      // 0: the very same bytes
};

void PrintTo (const RoundTrip &c, std::ostream *os) { *os << c.name; }

class SaveRoundTrip : public SaveTest, public ::testing::WithParamInterface<RoundTrip> {};

TEST_P (SaveRoundTrip, LoadsBackTheSamePixels)
{
    const RoundTrip &c = GetParam ();
    // 13 pixels make BMP rows need padding in both depths' row sizes (39 and 52 bytes: 40, 52).
    const Image src = test_image (13, 7, c.alpha, c.tolerance > 0);
    const std::string file = path (std::string ("out.") + c.format);
    LogCapture log;
    ASSERT_TRUE (tamba_save (src.get (), file.c_str (), c.format));
    const Image back (tamba_new_from_file (file.c_str ()));
    ASSERT_NE (back, nullptr);
    EXPECT_TRUE (log.messages ().empty ());
    EXPECT_EQ (bool (back->has_alpha), c.loaded_alpha);
    if (c.tolerance == 0)
        EXPECT_EQ (tamba::test::compare_images (src.get (), back.get ()), "");
    else
        EXPECT_LE (max_rgb_difference (src.get (), back.get ()), c.tolerance);
}

INSTANTIATE_TEST_SUITE_P (
    Formats, SaveRoundTrip,
    ::testing::Values (RoundTrip {"png_rgb", "png", false, false, 0},
                       RoundTrip {"png_rgba", "png", true, true, 0},
                       RoundTrip {"pnm_rgb", "pnm", false, false, 0},
                       RoundTrip {"bmp_rgb", "bmp", false, false, 0},
                       RoundTrip {"bmp_rgba", "bmp", true, true, 0},
                       RoundTrip {"jpeg_rgb", "jpeg", false, false, 10},
                       RoundTrip {"jpeg_rgba", "jpeg", true, false, 10}),
    [] (const auto &info) { return std::string (info.param.name); });

// The loader reads only P1 to P6, so the PAM is checked byte for byte.
TEST_F (SaveTest, PnmWithAlphaIsAPam)
{
    const Image src = test_image (13, 7, true, false);
    const std::string file = path ("out.pam");
    ASSERT_TRUE (tamba_save (src.get (), file.c_str (), "pnm"));
    const auto bytes = tamba::test::read_file (file);
    const std::string header =
        "P7\nWIDTH 13\nHEIGHT 7\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    ASSERT_EQ (bytes.size (), header.size () + 13 * 7 * 4);
    EXPECT_EQ (std::string (bytes.begin (), bytes.begin () + long (header.size ())), header);
    for (int y = 0; y < 7; ++y)
        EXPECT_EQ (std::memcmp (bytes.data () + header.size () + size_t (y) * 52,
                                src->pixels + y * src->rowstride, 52), 0) << "row " << y;
}

TEST_F (SaveTest, JpegQualityIsUsed)
{
    const Image src = test_image (64, 64, false, false);
    const std::string low = path ("low.jpg"), high = path ("high.jpg");
    ASSERT_TRUE (tamba_save_with_quality (src.get (), low.c_str (), "jpeg", 10));
    ASSERT_TRUE (tamba_save_with_quality (src.get (), high.c_str (), "jpeg", 95));
    EXPECT_LT (tamba::test::read_file (low).size () * 2, tamba::test::read_file (high).size ());
}

struct Failure {
    const char *name;
    const char *format;
    const char *file;  // relative to the test folder
    int quality;
    bool bad_image;
    std::string reason;
};

void PrintTo (const Failure &c, std::ostream *os) { *os << c.name; }

class SaveFailure : public SaveTest, public ::testing::WithParamInterface<Failure> {};

TEST_P (SaveFailure, FailsWithOneWarningAndNoFile)
{
    const Failure &c = GetParam ();
    Image src = test_image (4, 3, false, false);
    if (c.bad_image) src->rowstride = 11;  // shorter than a row
    const std::string file = path (c.file);
    LogCapture log;
    EXPECT_FALSE (tamba_save_with_quality (src.get (), file.c_str (), c.format, c.quality));
    EXPECT_EQ (log.warnings (), std::vector<std::string> {save_warning (file, c.reason)});
    EXPECT_EQ (log.messages ().size (), 1u);
    EXPECT_FALSE (g_file_test (file.c_str (), G_FILE_TEST_EXISTS));
}

INSTANTIATE_TEST_SUITE_P (
    Reasons, SaveFailure,
    ::testing::Values (
        Failure {"unknown_format", "tga", "a.tga", 90, false, "unknown format \"tga\""},
        Failure {"format_without_saver", "gif", "a.gif", 90, false, "the gif module cannot save"},
        Failure {"missing_folder", "png", "no/such/a.png", 90, false,
                 "cannot open for writing: No such file or directory"},
        Failure {"quality_zero", "jpeg", "a.jpg", 0, false, "quality 0 is not in 1..100"},
        Failure {"quality_above_100", "png", "a.png", 101, false, "quality 101 is not in 1..100"},
        Failure {"short_rowstride", "bmp", "a.bmp", 90, true,
                 "not a valid 8-bit RGB or RGBA image"}),
    [] (const auto &info) { return std::string (info.param.name); });

// A file size limit makes every writer fail part way; the partial file must go.
class SaveWriteError : public SaveTest, public ::testing::WithParamInterface<const char *> {};

TEST_P (SaveWriteError, RemovesThePartialFile)
{
    const Image src = test_image (64, 64, true, false);
    const std::string file = path ("partial");
    std::signal (SIGXFSZ, SIG_IGN);
    rlimit old {};
    ASSERT_EQ (getrlimit (RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 600;
    ASSERT_EQ (setrlimit (RLIMIT_FSIZE, &small), 0);
    LogCapture log;
    const gboolean saved = tamba_save (src.get (), file.c_str (), GetParam ());
    setrlimit (RLIMIT_FSIZE, &old);
    EXPECT_FALSE (saved);
    const std::string reason = std::string ("write error: ") + g_strerror (EFBIG);
    EXPECT_EQ (log.warnings (), std::vector<std::string> {save_warning (file, reason)});
    EXPECT_FALSE (g_file_test (file.c_str (), G_FILE_TEST_EXISTS));
}

INSTANTIATE_TEST_SUITE_P (Formats, SaveWriteError, ::testing::Values ("png", "jpeg", "pnm", "bmp"),
                          [] (const auto &info) { return std::string (info.param); });

// A device is written to but never removed.
TEST_F (SaveTest, DeviceThatIsFullIsKept)
{
    if (!g_file_test ("/dev/full", G_FILE_TEST_EXISTS)) GTEST_SKIP () << "no /dev/full";
    const Image src = test_image (4, 3, false, false);
    LogCapture log;
    EXPECT_FALSE (tamba_save (src.get (), "/dev/full", "pnm"));
    const std::string reason = std::string ("write error: ") + g_strerror (ENOSPC);
    EXPECT_EQ (log.warnings (), std::vector<std::string> {save_warning ("/dev/full", reason)});
    EXPECT_TRUE (g_file_test ("/dev/full", G_FILE_TEST_EXISTS));
}

TEST (SavePreconditions, NullArgumentsAreRefused)
{
    const Image src = test_image (2, 2, false, false);
    const struct {
        std::function<gboolean ()> call;
        const char *expression;
    } cases[] = {
        {[] { return tamba_save (nullptr, "x.png", "png"); }, "tamba != NULL"},
        {[&] { return tamba_save (src.get (), nullptr, "png"); }, "filename != NULL"},
        {[&] { return tamba_save_with_quality (src.get (), "x.png", nullptr, 90); },
         "format != NULL"},
    };
    for (const auto &c : cases) {
        LogCapture log;
        EXPECT_FALSE (c.call ());
        EXPECT_EQ (log.criticals (), std::vector<std::string> {c.expression});
    }
}

constexpr guchar kPngSignature[] = "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\1\0\0\0\1\x08\x02\0\0\0";
constexpr guchar kJpegSignature[] = "\xff\xd8\xff\xe0\0\x10JFIF\0";

// The format's record with its module opened.
TambaModule *opened_module (const guchar *signature, size_t size)
{
    TambaModule *record = tamba_get_module (const_cast<guchar *> (signature), guint (size));
    if (record && !record->module) tamba_load_module (record);
    return record;
}

Tamba *load_at_size_entry (const TambaModule *record, const std::string &file, int w, int h)
{
    FILE *f = std::fopen (file.c_str (), "rb");
    if (!f) return nullptr;
    Tamba *image = record->load_at_size (f, w, h);
    std::fclose (f);
    return image;
}

// Loading at a size, from a 40 x 20 PNG.
class AtSizeTest : public SaveTest {
protected:
    void SetUp () override
    {
        SaveTest::SetUp ();
        file_ = path ("src.png");
        const Image src = test_image (40, 20, true, false);
        ASSERT_TRUE (tamba_save (src.get (), file_.c_str (), "png"));
        full_.reset (tamba_new_from_file (file_.c_str ()));
        ASSERT_NE (full_, nullptr);
    }
    std::string file_;
    Image full_;
};

TEST_F (AtSizeTest, SizesAndPixelsMatchScaleSimple)
{
    // PNG decodes only at full size, so these go through a whole load.
    ASSERT_EQ (opened_module (kPngSignature, sizeof kPngSignature)->load_at_size, nullptr);
    const struct {
        int width, height;
        bool aspect;
        int want_w, want_h;
        GdkInterpType interp;  // fewer pixels than the source: hyper
    } cases[] = {
        {20, 20, true, 20, 10, GDK_INTERP_HYPER},
        {10, 40, true, 10, 5, GDK_INTERP_HYPER},
        {80, 80, true, 80, 40, GDK_INTERP_BILINEAR},
        {3, 100, true, 3, 2, GDK_INTERP_HYPER},       // 1.5 rounds up
        {1, 1000, true, 1, 1, GDK_INTERP_HYPER},      // 0.5 rounds up to the minimum of 1
        {1000, 1, true, 2, 1, GDK_INTERP_HYPER},
        {7, 90, false, 7, 90, GDK_INTERP_HYPER},      // taller but 630 pixels of 800
        {80, 5, false, 80, 5, GDK_INTERP_HYPER},      // wider but 400 pixels
        {50, 19, false, 50, 19, GDK_INTERP_BILINEAR}, // narrower but 950 pixels
    };
    for (const auto &c : cases) {
        SCOPED_TRACE (std::to_string (c.width) + "x" + std::to_string (c.height));
        const Image got (tamba_new_from_file_at_size (file_.c_str (), c.width, c.height, c.aspect));
        ASSERT_NE (got, nullptr);
        EXPECT_EQ (got->width, c.want_w);
        EXPECT_EQ (got->height, c.want_h);
        const Image expected (tamba_scale_simple (full_.get (), c.want_w, c.want_h, c.interp));
        EXPECT_EQ (tamba::test::compare_images (got.get (), expected.get ()), "");
    }
}

TEST_F (AtSizeTest, OwnSizeIsTheLoadedImage)
{
    for (bool aspect : {false, true}) {
        const Image got (tamba_new_from_file_at_size (file_.c_str (), 40, 20, aspect));
        ASSERT_NE (got, nullptr);
        EXPECT_EQ (got->ref_count, 1);
        EXPECT_EQ (tamba::test::compare_images (got.get (), full_.get ()), "");
    }
    // A box with room to spare in one direction only keeps the image as it is.
    const Image got (tamba_new_from_file_at_size (file_.c_str (), 40, 500, TRUE));
    EXPECT_EQ (tamba::test::compare_images (got.get (), full_.get ()), "");
}

TEST_F (AtSizeTest, BadArgumentsAndMissingFiles)
{
    const struct {
        const char *file;
        int width, height;
        const char *expression;  // nullptr: no precondition, just no image
    } cases[] = {
        {nullptr, 10, 10, "filename != NULL"},
        {"src.png", 0, 10, "width > 0"},
        {"src.png", 10, -1, "height > 0"},
        {"missing.png", 10, 10, nullptr},
    };
    for (const auto &c : cases) {
        const std::string file = c.file ? path (c.file) : "";
        LogCapture log;
        EXPECT_EQ (tamba_new_from_file_at_size (c.file ? file.c_str () : nullptr, c.width,
                                                c.height, TRUE),
                   nullptr);
        if (c.expression)
            EXPECT_EQ (log.criticals (), std::vector<std::string> {c.expression});
        else
            EXPECT_TRUE (log.criticals ().empty ());
    }
}

// Loading at a size from a 200 x 150 JPEG, which the module decodes at 1/2, 1/4 or 1/8.
class JpegAtSizeTest : public SaveTest {
protected:
    void SetUp () override
    {
        SaveTest::SetUp ();
        file_ = path ("src.jpg");
        const Image src = test_image (200, 150, false, true);
        ASSERT_TRUE (tamba_save_with_quality (src.get (), file_.c_str (), "jpeg", 95));
        full_.reset (tamba_new_from_file (file_.c_str ()));
        ASSERT_NE (full_, nullptr);
        jpeg_ = opened_module (kJpegSignature, sizeof kJpegSignature);
        ASSERT_NE (jpeg_->load_at_size, nullptr);
    }
    std::string file_;
    Image full_;
    TambaModule *jpeg_ = nullptr;
};

// libjpeg rounds scaled sides up: 1/8 of 200 x 150 is 25 x 19, 1/4 is 50 x 38, 1/2 100 x 75.
TEST_F (JpegAtSizeTest, EntryPicksTheSmallestScaleThatCovers)
{
    const struct {
        int width, height, want_w, want_h;
    } cases[] = {
        {1, 1, 25, 19},       {25, 19, 25, 19},     {26, 19, 50, 38},   {25, 20, 50, 38},
        {100, 75, 100, 75},   {101, 10, 200, 150},  {10, 76, 200, 150}, {300, 300, 200, 150},
        {300, 19, 200, 150},  // a side wider than the image asks for the whole of it
        {10, 200, 200, 150},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE (std::to_string (c.width) + "x" + std::to_string (c.height));
        const Image got (load_at_size_entry (jpeg_, file_, c.width, c.height));
        ASSERT_NE (got, nullptr);
        EXPECT_EQ (got->width, c.want_w);
        EXPECT_EQ (got->height, c.want_h);
    }
}

// The result has the size a full decode would give, and pixels close to it.
TEST_F (JpegAtSizeTest, CloseToFullDecodeAndScale)
{
    const struct {
        int width, height;
        bool aspect;
        int want_w, want_h;
        GdkInterpType interp;
    } cases[] = {
        {24, 24, true, 24, 18, GDK_INTERP_HYPER},     // from 1/8
        {64, 64, true, 64, 48, GDK_INTERP_HYPER},     // from 1/2
        {30, 100, false, 30, 100, GDK_INTERP_HYPER},  // the height needs the full decode
        {25, 19, false, 25, 19, GDK_INTERP_HYPER},    // 1/8 is the target itself
        {400, 400, true, 400, 300, GDK_INTERP_BILINEAR},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE (std::to_string (c.width) + "x" + std::to_string (c.height));
        LogCapture log;
        const Image got (tamba_new_from_file_at_size (file_.c_str (), c.width, c.height, c.aspect));
        ASSERT_NE (got, nullptr);
        EXPECT_TRUE (log.messages ().empty ());
        const Image expected (tamba_scale_simple (full_.get (), c.want_w, c.want_h, c.interp));
        EXPECT_LE (max_rgb_difference (got.get (), expected.get ()), 6);
    }
}

// A file that fails is reported once, whether or not its size had to be read first.
TEST_F (JpegAtSizeTest, BrokenFileFailsWithOneWarning)
{
    const auto whole = tamba::test::read_file (file_);
    const struct {
        const char *name;
        std::vector<guchar> bytes;
    } cases[] = {
        {"header_cut", {whole.begin (), whole.begin () + 150}},
        {"bad_marker", {0xff, 0xd8, 0xff, 0x01, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
    };
    for (const auto &c : cases)
        for (bool aspect : {false, true}) {
            SCOPED_TRACE (std::string (c.name) + (aspect ? " aspect" : ""));
            const std::string file = path (c.name);
            ASSERT_TRUE (g_file_set_contents (file.c_str (), reinterpret_cast<const char *> (
                                              c.bytes.data ()), gssize (c.bytes.size ()), nullptr));
            LogCapture log;
            EXPECT_EQ (tamba_new_from_file_at_size (file.c_str (), 20, 20, aspect), nullptr);
            EXPECT_EQ (log.warnings ().size (), 1u);
            EXPECT_EQ (log.messages ().size (), 1u);
        }
}

// Every corpus JPEG the whole-file entry decodes, the reduced one decodes too, within bounds.
TEST (JpegAtSizeCorpus, RefusesNothingTheFullDecodeTakes)
{
    const auto entries = tamba::test::corpus_entries ("jpeg");
    if (entries.empty ()) GTEST_SKIP () << "no corpus";
    const TambaModule *jpeg = opened_module (kJpegSignature, sizeof kJpegSignature);
    for (const auto &e : entries) {
        SCOPED_TRACE (e.path);
        LogCapture log;
        FILE *f = std::fopen (e.path.c_str (), "rb");
        ASSERT_NE (f, nullptr);
        const Image full (jpeg->load (f));
        std::fclose (f);
        if (!full) continue;
        for (const int side : {1, full->width / 3 + 1}) {
            const Image got (load_at_size_entry (jpeg, e.path, side, side));
            ASSERT_NE (got, nullptr);
            EXPECT_GE (got->width, std::min (side, full->width));
            EXPECT_GE (got->height, std::min (side, full->height));
            EXPECT_LE (got->width, full->width);
            EXPECT_LE (got->height, full->height);
        }
    }
}

}  // namespace
