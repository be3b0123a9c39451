// SPDX-License-Identifier: LGPL-2.1-or-later
// Saving through the real modules and loading back, the ways saving fails, and loading at a
// size (a reduced JPEG decode among them). The modules are found through the library search.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "log-capture.h"
#include "modules.h"
#include "run-program.h"
#include "tamba-loading.h"

namespace tamba::test {
namespace {

using Strings = std::vector<std::string>;

// A w x h image whose rows carry 5 bytes of padding filled with 0xEE, which no saver may write.
// Smooth images are gradients (fit for JPEG); the others vary from pixel to pixel, alpha too.
ImagePtr test_image (int w, int h, bool alpha, bool smooth)
{
    const int nc = alpha ? 4 : 3, stride = w * nc + 5;
    auto *data = static_cast<guchar *> (g_malloc (size_t (stride) * size_t (h)));
    std::memset (data, 0xEE, size_t (stride) * size_t (h));
    guint32 seed = 12345;
    for (int y = 0; y < h; ++y)
        for (int i = 0; i < w * nc; ++i) {  // pixel i / nc, channel i % nc
            const int x = i / nc, c = i % nc;
            seed = seed * 1103515245u + 12345u;
            data[y * stride + i] = smooth ? guchar ((x * 255 / (w - 1) * (c + 1) + y * 255 / (h - 1)) / (c + 2))
                                          : c == 3 && x == 0 ? 0 : guchar (seed >> 16);
        }
    return ImagePtr (tamba_new_from_data (data, GDK_COLORSPACE_RGB, alpha, 8, w, h, stride,
                                          [] (guchar *pixels, gpointer) { g_free (pixels); }, nullptr));
}

// "" when a and b have the same size and their RGB samples differ by at most tolerance.
std::string compare_rgb (const Tamba *a, const Tamba *b, int tolerance)
{
    if (!a || !b || a->width != b->width || a->height != b->height) return "sizes differ";
    for (int y = 0; y < a->height; ++y)
        for (int x = 0; x < a->width * 3; ++x)
            if (std::abs (a->pixels[y * a->rowstride + x / 3 * a->n_channels + x % 3]
                          - b->pixels[y * b->rowstride + x / 3 * b->n_channels + x % 3]) > tolerance)
                return "differs at " + std::to_string (x / 3) + "," + std::to_string (y);
    return tolerance ? "" : compare_images (a, b);
}

// A fresh folder, removed with the fixture, holding the sources of loading at a size: a 40 x 20
// PNG with alpha and a 200 x 150 JPEG.
class Save : public ::testing::Test {
protected:
    void SetUp () override
    {
        ASSERT_TRUE (tamba_save (test_image (40, 20, true, false).get (), path ("src.png").c_str (), "png"));
        ASSERT_TRUE (tamba_save_with_quality (test_image (200, 150, false, true).get (), path ("src.jpg").c_str (), "jpeg", 95));
    }
    void TearDown () override { run_program ({"rm", "-rf", dir_}); }
    std::string path (const std::string &name) const { return dir_ + "/" + name; }
    const std::string dir_ = std::unique_ptr<gchar, decltype (&g_free)> (g_dir_make_tmp ("tamba-save-XXXXXX", nullptr), &g_free).get ();
};

// Each saver's file loads back as the image (tolerance 0: the very same bytes).
TEST_F (Save, LoadsBackTheSamePixels)
{
    const struct { const char *format; bool alpha, loaded_alpha; int tolerance; } cases[] = {
        {"png", false, false, 0}, {"png", true, true, 0}, {"pnm", false, false, 0}, {"bmp", false, false, 0},
        {"bmp", true, true, 0}, {"jpeg", false, false, 10}, {"jpeg", true, false, 10}};
    for (const auto &c : cases) {
        SCOPED_TRACE (std::string (c.format) + (c.alpha ? " with alpha" : ""));
        // 13 pixels make BMP rows need padding in both depths' row sizes.
        const ImagePtr src = test_image (13, 7, c.alpha, c.tolerance > 0);
        const std::string file = path (std::string ("out.") + c.format);
        LogCapture log;
        ASSERT_TRUE (tamba_save (src.get (), file.c_str (), c.format));
        const ImagePtr back (tamba_new_from_file (file.c_str ()));
        ASSERT_NE (back, nullptr);
        EXPECT_TRUE (log.messages ().empty ());
        EXPECT_EQ (bool (back->has_alpha), c.loaded_alpha);
        EXPECT_EQ (compare_rgb (src.get (), back.get (), c.tolerance), "");
    }
}

// One warning and no file; a file size limit makes every writer fail part way; a device is
// written to but never removed. Missing arguments are refused.
TEST_F (Save, FailuresWarnOnceAndLeaveNoFile)
{
    const std::string write_error = std::string ("write error: ") + g_strerror (EFBIG);
    const struct { const char *format, *file; int quality; bool bad_image, size_limit; std::string reason; } cases[] = {
        {"tga", "a.tga", 90, false, false, "unknown format \"tga\""},
        {"gif", "a.gif", 90, false, false, "the gif module cannot save"},
        {"png", "no/such/a.png", 90, false, false, "cannot open for writing: No such file or directory"},
        {"jpeg", "a.jpg", 0, false, false, "quality 0 is not in 1..100"},
        {"png", "a.png", 101, false, false, "quality 101 is not in 1..100"},
        {"bmp", "a.bmp", 90, true, false, "not a valid 8-bit RGB or RGBA image"},
        {"png", "p.png", 90, false, true, write_error}, {"jpeg", "p.jpg", 90, false, true, write_error},
        {"pnm", "p.pnm", 90, false, true, write_error}, {"bmp", "p.bmp", 90, false, true, write_error},
        {"pnm", "/dev/full", 90, false, false, std::string ("write error: ") + g_strerror (ENOSPC)},
    };
    std::signal (SIGXFSZ, SIG_IGN);
    for (const auto &c : cases) {
        SCOPED_TRACE (c.reason);
        ImagePtr src = test_image (64, 64, true, false);
        if (c.bad_image) src->rowstride = 11;  // shorter than a row
        const std::string file = c.file[0] == '/' ? c.file : path (c.file);
        rlimit old {};
        getrlimit (RLIMIT_FSIZE, &old);
        const rlimit small {c.size_limit ? 600 : old.rlim_cur, old.rlim_max};
        ASSERT_EQ (setrlimit (RLIMIT_FSIZE, &small), 0);
        LogCapture log;
        const gboolean saved = tamba_save_with_quality (src.get (), file.c_str (), c.format, c.quality);
        setrlimit (RLIMIT_FSIZE, &old);
        EXPECT_FALSE (saved);
        gchar *warning = g_strdup_printf (tamba::detail::kSaveFailed, file.c_str (), c.reason.c_str ());
        EXPECT_EQ (log.messages ().size (), 1u);
        EXPECT_EQ (log.warnings (), Strings {warning});
        g_free (warning);
        EXPECT_EQ (g_file_test (file.c_str (), G_FILE_TEST_EXISTS), file == "/dev/full");
    }
    const ImagePtr src = test_image (2, 2, false, false);
    LogCapture log;
    EXPECT_FALSE (tamba_save (nullptr, "x.png", "png"));
    EXPECT_FALSE (tamba_save (src.get (), nullptr, "png"));
    EXPECT_FALSE (tamba_save_with_quality (src.get (), "x.png", nullptr, 90));
    EXPECT_EQ (log.criticals (), (Strings {"tamba != NULL", "filename != NULL", "format != NULL"}));
}

// Loading at a size gives what a whole load scaled by tamba_scale_simple gives: from the PNG
// (decoded only at full size) exactly, from the JPEG (decoded at 1/2, 1/4 or 1/8 where that
// covers the size) closely. Fewer pixels than the source scale with hyper.
TEST_F (Save, AtSizeMatchesScaleSimple)
{
    const struct {
        const char *file;
        int width, height;
        bool aspect;
        int want_w, want_h, tolerance;
        GdkInterpType interp;
    } cases[] = {
        {"src.png", 80, 80, true, 80, 40, 0, GDK_INTERP_BILINEAR},
        {"src.png", 3, 100, true, 3, 2, 0, GDK_INTERP_HYPER},       // 1.5 rounds up
        {"src.png", 1, 1000, true, 1, 1, 0, GDK_INTERP_HYPER},      // 0.5 rounds up to the minimum
        {"src.png", 7, 90, false, 7, 90, 0, GDK_INTERP_HYPER},      // taller but 630 pixels of 800
        {"src.png", 50, 19, false, 50, 19, 0, GDK_INTERP_BILINEAR}, // narrower but 950 pixels
        {"src.png", 40, 500, true, 40, 20, 0, GDK_INTERP_HYPER},    // room to spare: as it is
        {"src.jpg", 24, 24, true, 24, 18, 6, GDK_INTERP_HYPER},     // from 1/8
        {"src.jpg", 30, 100, false, 30, 100, 6, GDK_INTERP_HYPER},  // the height needs it all
        {"src.jpg", 400, 400, true, 400, 300, 6, GDK_INTERP_BILINEAR},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE (std::string (c.file) + " " + std::to_string (c.width) + "x" + std::to_string (c.height));
        const ImagePtr full (tamba_new_from_file (path (c.file).c_str ()));
        LogCapture log;
        const ImagePtr got (tamba_new_from_file_at_size (path (c.file).c_str (), c.width, c.height, c.aspect));
        ASSERT_NE (got, nullptr);
        EXPECT_TRUE (log.messages ().empty ());
        EXPECT_EQ (got->width, c.want_w);
        EXPECT_EQ (got->height, c.want_h);
        const bool same = c.want_w == full->width && c.want_h == full->height;
        const ImagePtr expected (same ? tamba_copy (full.get ()) : tamba_scale_simple (full.get (), c.want_w, c.want_h, c.interp));
        EXPECT_EQ (compare_rgb (got.get (), expected.get (), c.tolerance), "");
    }
}

// The JPEG entry picks the smallest scale that covers the size; libjpeg rounds scaled sides up:
// 1/8 of 200 x 150 is 25 x 19, 1/4 is 50 x 38, 1/2 100 x 75.
TEST_F (Save, JpegAtSizeEntryPicksTheSmallestScaleThatCovers)
{
    const Module &jpeg = module_for ("jpeg");
    ASSERT_NE (jpeg.entries ().load_at_size, nullptr);
    const int cases[][4] = {{1, 1, 25, 19},     {25, 19, 25, 19},   {26, 19, 50, 38},   {25, 20, 50, 38},
                            {100, 75, 100, 75}, {101, 10, 200, 150}, {10, 76, 200, 150}, {300, 19, 200, 150}};
    for (const auto &c : cases) {
        FILE *f = std::fopen (path ("src.jpg").c_str (), "rb");
        const ImagePtr got (jpeg.entries ().load_at_size (f, c[0], c[1]));
        std::fclose (f);
        ASSERT_NE (got, nullptr);
        EXPECT_EQ (got->width, c[2]) << c[0] << "x" << c[1];
        EXPECT_EQ (got->height, c[3]) << c[0] << "x" << c[1];
    }
}

// A precondition names its expression (nullptr: none, just no image); a broken file warns.
TEST_F (Save, AtSizeRefusesBadArgumentsAndBrokenFiles)
{
    const Bytes whole = read_file (path ("src.jpg"));
    g_file_set_contents (path ("cut.jpg").c_str (), reinterpret_cast<const char *> (whole.data ()), 150, nullptr);
    const struct { const char *file; int width, height; const char *expression; size_t warnings; } cases[] = {
        {nullptr, 10, 10, "filename != NULL", 0}, {"src.jpg", 0, 10, "width > 0", 0},
        {"src.jpg", 10, -1, "height > 0", 0},     {"missing.png", 10, 10, nullptr, 0},
        {"cut.jpg", 20, 20, nullptr, 1},
    };
    for (const auto &c : cases)
        for (bool aspect : {false, true}) {
            const std::string file = c.file ? path (c.file) : "";
            LogCapture log;
            EXPECT_EQ (ImagePtr (tamba_new_from_file_at_size (c.file ? file.c_str () : nullptr, c.width, c.height, aspect)), nullptr);
            EXPECT_EQ (log.criticals (), c.expression ? Strings {c.expression} : Strings {});
            EXPECT_EQ (log.warnings ().size (), c.warnings) << file;
        }
}

}  // namespace
}  // namespace tamba::test
