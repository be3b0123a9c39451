// SPDX-License-Identifier: LGPL-2.1-or-later
// tamba-view --snapshot under a private depth-24 Xvfb: what the window shows, read back from
// the server, must be the image at 1:1 (over the viewer's checkerboard where it has alpha), or
// the animation's canvas after the wanted frame.
#include <gtest/gtest.h>

#include <glib/gstdio.h>
#include <tamba/tamba.h>

#include <cstring>
#include <string>
#include <vector>

#include "image-writers.h"
#include "look.h"
#include "modules.h"
#include "pixel-reference.h"
#include "run-program.h"
#include "xvfb-server.h"

namespace tamba::test {
namespace {

// A rectangle of one RGBA colour; a colour of 0 alpha makes a hole.
struct Patch { int x, y, w, h; guint32 rgba; };

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

// The animation's canvas built by hand: transparent, with the patches painted in order.
Image canvas (int width, int height, const std::vector<Patch> &patches)
{
    Image im (tamba_new (GDK_COLORSPACE_RGB, TRUE, 8, width, height));
    std::memset (im->pixels, 0, size_t (im->rowstride) * size_t (height));
    for (const Patch &p : patches)
        for (int y = p.y; y < p.y + p.h; ++y)
            for (int x = p.x; x < p.x + p.w; ++x)
                for (int c = 0; c < 4; ++c) im->pixels[y * im->rowstride + x * 4 + c] = guchar (p.rgba >> (24 - 8 * c));
    return im;
}

class ViewSnapshot : public ::testing::Test {
protected:
    static void SetUpTestSuite () { server_ = new XvfbServer ("24"); }
    static void TearDownTestSuite () { delete server_; }
    void SetUp () override { ASSERT_FALSE (server_->display ().empty ()) << "Xvfb did not start"; }
    void TearDown () override { run_program ({"rm", "-rf", dir_}); }

    std::string path (const std::string &name) const { return dir_ + "/" + name; }
    // The snapshot of input taken with extra options, loaded back. A viewer that waits forever
    // is stopped (status 124), so that the case that hangs is the one reported.
    Image snapshot (const std::string &input, std::vector<std::string> options = {})
    {
        const std::string out = path ("snapshot.png");
        g_remove (out.c_str ());  // left by an earlier case
        std::vector<std::string> argv {"timeout", "20", TAMBA_VIEW_PATH};
        argv.insert (argv.end (), options.begin (), options.end ());
        argv.insert (argv.end (), {"--snapshot", out, input});
        gchar **env = g_environ_setenv (g_get_environ (), "DISPLAY", server_->display ().c_str (), TRUE);
        const ProgramRun r = run_program (argv, nullptr, env);
        g_strfreev (env);
        EXPECT_EQ (r.status, 0) << r.err;
        return Image (tamba_new_from_file (out.c_str ()));
    }

    static XvfbServer *server_;
    const std::string dir_ = std::unique_ptr<gchar, decltype (&g_free)> (g_dir_make_tmp ("tamba-tool-test-XXXXXX", nullptr), &g_free).get ();
};
XvfbServer *ViewSnapshot::server_ = nullptr;

TEST_F (ViewSnapshot, StillImagesAtOneToOne)
{
    for (const bool alpha : {false, true}) {
        const Image im = pattern (37, 21, alpha);
        const std::string in = path (alpha ? "rgba.png" : "rgb.png");
        ASSERT_TRUE (tamba_save (im.get (), in.c_str (), "png"));
        const Image expected (alpha ? view::view_image (im.get (), im->width, im->height) : tamba_ref (im.get ()));
        EXPECT_EQ (compare_images (snapshot (in).get (), expected.get ()), "") << (alpha ? "RGBA" : "RGB");
    }
}

TEST_F (ViewSnapshot, AnimationFramesFollowTheirActions)
{
    // Red screen; then a green patch whose disposal varies; then a blue patch elsewhere.
    constexpr int kW = 12, kH = 10;
    const Patch screen {0, 0, kW, kH, 0xff0000ff}, green {2, 2, 4, 3, 0x00ff00ff}, blue {7, 5, 3, 4, 0x0000ffff};
    // disposal: of the green frame, 1 keep, 2 clear to transparent, 3 restore.
    const struct { const char *name; int disposal, after; std::vector<Patch> expected; } cases[] = {
        {"first frame", 1, 1, {screen}},
        {"second frame", 1, 2, {screen, green}},
        {"retained", 1, 3, {screen, green, blue}},
        {"disposed", 2, 3, {screen, {green.x, green.y, green.w, green.h, 0}, blue}},
        {"reverted", 3, 3, {screen, blue}},
        {"wraps round to the first", 1, 4, {screen}},
    };
    const auto image = [] (const Patch &p, std::uint8_t index, int disposal) {
        GifImage im;
        im.x = p.x, im.y = p.y, im.width = p.w, im.height = p.h, im.delay = 1, im.disposal = disposal;
        im.indices.assign (size_t (p.w * p.h), index);
        return im;
    };
    for (const auto &c : cases) {
        const Bytes gif = make_gif (kW, kH, {255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0},
                                    {image (screen, 0, 1), image (green, 1, c.disposal), image (blue, 2, 1)});
        const std::string in = path ("anim.gif");
        ASSERT_TRUE (g_file_set_contents (in.c_str (), reinterpret_cast<const char *> (gif.data ()), gssize (gif.size ()), nullptr));
        const Image expected (view::view_image (canvas (kW, kH, c.expected).get (), kW, kH));
        const Image got = snapshot (in, {"--after", std::to_string (c.after)});
        EXPECT_EQ (compare_images (got.get (), expected.get ()), "") << c.name;
    }
}

}  // namespace
}  // namespace tamba::test
