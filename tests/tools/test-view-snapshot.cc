// SPDX-License-Identifier: LGPL-2.1-or-later
// tamba-view --snapshot under a private depth-24 Xvfb: what the window shows, read back from
// the server, must be the image at 1:1 (over the viewer's checkerboard where it has alpha), or
// the animation's canvas after the wanted frame.
#include <gtest/gtest.h>

#include <glib/gstdio.h>
#include <tamba/tamba.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "modules.h"
#include "image-writers.h"
#include "look.h"
#include "pixel-reference.h"
#include "run-program.h"
#include "xvfb-server.h"

namespace {

using tamba::test::Bytes;
using tamba::test::GifImage;

using tamba::test::Image;

// Runs tamba-view with args; display "" runs it without DISPLAY. A viewer that waits forever
// is stopped (status 124) so that the case that hangs is the one reported.
tamba::test::ProgramRun run_view (const std::vector<std::string> &args,
                                  const std::string &display)
{
    std::vector<std::string> argv{"timeout", "20", TAMBA_VIEW_PATH};
    argv.insert (argv.end (), args.begin (), args.end ());
    gchar **env = g_get_environ ();
    env = display.empty () ? g_environ_unsetenv (env, "DISPLAY")
                           : g_environ_setenv (env, "DISPLAY", display.c_str (), TRUE);
    tamba::test::ProgramRun r = tamba::test::run_program (argv, nullptr, env);
    g_strfreev (env);
    return r;
}

// A width x height image whose every pixel differs from its neighbours; alpha sweeps 0..255.
Image pattern (int width, int height, bool alpha)
{
    Image im (tamba_new (GDK_COLORSPACE_RGB, alpha, 8, width, height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            guchar *p = im->pixels + y * im->rowstride + x * im->n_channels;
            p[0] = guchar (x * 7), p[1] = guchar (y * 11), p[2] = guchar ((x ^ y) * 5);
            if (alpha) p[3] = guchar ((x + y * width) * 255 / (width * height - 1));
        }
    return im;
}

// The animation's canvas built by hand: a transparent RGBA image of width x height with the
// rectangles painted in order (a colour of 0 alpha makes a hole again).
struct Patch {
    int x, y, w, h;
    guint32 rgba;
};
Image canvas (int width, int height, const std::vector<Patch> &patches)
{
    Image im (tamba_new (GDK_COLORSPACE_RGB, TRUE, 8, width, height));
    std::memset (im->pixels, 0, size_t (im->rowstride) * size_t (height));
    for (const Patch &p : patches)
        for (int y = p.y; y < p.y + p.h; ++y)
            for (int x = p.x; x < p.x + p.w; ++x) {
                guchar *d = im->pixels + y * im->rowstride + x * 4;
                for (int c = 0; c < 4; ++c) d[c] = guchar (p.rgba >> (24 - 8 * c));
            }
    return im;
}

class ViewSnapshot : public ::testing::Test {
protected:
    static void SetUpTestSuite () { server_ = new tamba::test::XvfbServer ("24"); }
    static void TearDownTestSuite () { delete server_; }

    void SetUp () override
    {
        ASSERT_FALSE (server_->display ().empty ()) << "Xvfb did not start";
        dir_ = g_dir_make_tmp ("tamba-view-XXXXXX", nullptr);
        ASSERT_NE (dir_, nullptr);
    }
    void TearDown () override
    {
        for (const auto &f : files_) g_remove (f.c_str ());
        g_rmdir (dir_);
        g_free (dir_);
    }
    std::string path (const std::string &name)
    {
        files_.push_back (std::string (dir_) + "/" + name);
        return files_.back ();
    }
    // The snapshot of input taken with extra options, loaded back.
    Image snapshot (const std::string &input, std::vector<std::string> options = {})
    {
        const std::string out = path ("snapshot.png");
        g_remove (out.c_str ());  // left by an earlier case
        options.insert (options.end (), {"--snapshot", out, input});
        const auto r = run_view (options, server_->display ());
        EXPECT_EQ (r.status, 0) << r.err;
        return Image (tamba_new_from_file (out.c_str ()));
    }

    static tamba::test::XvfbServer *server_;
    gchar *dir_ = nullptr;
    std::vector<std::string> files_;
};
tamba::test::XvfbServer *ViewSnapshot::server_ = nullptr;

TEST_F (ViewSnapshot, StillImagesAtOneToOne)
{
    for (const bool alpha : {false, true}) {
        SCOPED_TRACE (alpha ? "RGBA" : "RGB");
        const Image im = pattern (37, 21, alpha);
        const std::string in = path (alpha ? "rgba.png" : "rgb.png");
        ASSERT_TRUE (tamba_save (im.get (), in.c_str (), "png"));
        const Image expected (alpha ? tamba::view::view_image (im.get (), im->width, im->height)
                                    : tamba_ref (im.get ()));
        EXPECT_EQ (tamba::test::compare_images (snapshot (in).get (), expected.get ()), "");
    }
}

TEST_F (ViewSnapshot, AnimationFramesFollowTheirActions)
{
    // Red screen; then a green patch whose disposal varies; then a blue patch elsewhere.
    constexpr int kW = 12, kH = 10;
    constexpr guint32 kRed = 0xff0000ff, kGreen = 0x00ff00ff, kBlue = 0x0000ffff, kHole = 0;
    const Patch screen{0, 0, kW, kH, kRed}, green{2, 2, 4, 3, kGreen}, blue{7, 5, 3, 4, kBlue};
    const struct {
        const char *name;
        int disposal;  // of the green frame: 1 keep, 2 clear to transparent, 3 restore
        int after;
        std::vector<Patch> expected;
    } cases[] = {
        {"first frame", 1, 1, {screen}},
        {"second frame", 1, 2, {screen, green}},
        {"retained", 1, 3, {screen, green, blue}},
        {"disposed", 2, 3, {screen, {green.x, green.y, green.w, green.h, kHole}, blue}},
        {"reverted", 3, 3, {screen, blue}},
        {"wraps round to the first", 1, 4, {screen}},
    };
    const Bytes palette = {255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0};
    auto image = [] (const Patch &p, int index, int disposal) {
        GifImage im;
        im.x = p.x, im.y = p.y, im.width = p.w, im.height = p.h;
        im.indices.assign (size_t (p.w * p.h), std::uint8_t (index));
        im.delay = 1;
        im.disposal = disposal;
        return im;
    };
    for (const auto &c : cases) {
        SCOPED_TRACE (c.name);
        const Bytes gif = tamba::test::make_gif (
            kW, kH, palette, {image (screen, 0, 1), image (green, 1, c.disposal), image (blue, 2, 1)});
        const std::string in = path ("anim.gif");
        std::ofstream (in, std::ios::binary).write (reinterpret_cast<const char *> (gif.data ()),
                                                    std::streamsize (gif.size ()));
        const Image want = canvas (kW, kH, c.expected);
        const Image expected (tamba::view::view_image (want.get (), kW, kH));
        const Image got = snapshot (in, {"--after", std::to_string (c.after)});
        EXPECT_EQ (tamba::test::compare_images (got.get (), expected.get ()), "");
    }
}

}  // namespace
