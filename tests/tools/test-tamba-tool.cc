// SPDX-License-Identifier: LGPL-2.1-or-later
// Runs the built tamba-tool on images the test writes and checks what it prints, its exit codes
// and its output files against what the library itself computes from the same inputs.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "image-writers.h"
#include "run-program.h"
#include "tamba/tamba.h"
#include "tool.h"

namespace tamba::test {
namespace {

using tamba::tool::Image;

// The line `checksum` prints for an image: its size, its alpha and the SHA-256 of its rows.
std::string checksum_line (const std::string &name, const Tamba *image)
{
    GChecksum *sum = g_checksum_new (G_CHECKSUM_SHA256);
    for (int y = 0; y < image->height; y++)
        g_checksum_update (sum, image->pixels + y * image->rowstride, gsize (image->width * image->n_channels));
    const std::string line = name + " " + std::to_string (image->width) + "x" + std::to_string (image->height)
                             + (image->has_alpha ? " alpha " : " noalpha ") + g_checksum_get_string (sum) + "\n";
    g_checksum_free (sum);
    return line;
}

// A gradient, so that scaling and every channel show in the digest.
Image gradient (int width, int height, bool alpha)
{
    Image image (tamba_new (GDK_COLORSPACE_RGB, alpha, 8, width, height));
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            guchar *p = image->pixels + y * image->rowstride + x * image->n_channels;
            p[0] = guchar (x * 255 / width), p[1] = guchar (y * 255 / height), p[2] = guchar ((x * 7 + y * 13) & 0xff);
            if (alpha) p[3] = guchar ((x + y) * 255 / (width + height));
        }
    return image;
}

// Every test gets a folder with the same inputs: photo.ppm 40x30, small.ppm 10x6, alpha.png
// 30x40 with alpha, three bad files, and anim.gif: four frames on a 3x1 canvas in red, green
// and blue (index 3 transparent), with the actions retain, dispose, revert, retain.
class ToolTest : public ::testing::Test {
protected:
    void SetUp () override
    {
        ASSERT_TRUE (tamba_save (gradient (40, 30, false).get (), path ("photo.ppm").c_str (), "pnm"));
        ASSERT_TRUE (tamba_save (gradient (10, 6, false).get (), path ("small.ppm").c_str (), "pnm"));
        ASSERT_TRUE (tamba_save (gradient (30, 40, true).get (), path ("alpha.png").c_str (), "png"));
        const auto frame = [] (int x, Bytes indices, int delay, int disposal, int transparent) {
            GifImage g;
            g.x = x, g.width = int (indices.size ()), g.indices = indices, g.delay = delay, g.disposal = disposal;
            g.transparent = transparent;
            return g;
        };
        const Bytes gif = make_gif (3, 1, {255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0},
                                    {frame (0, {0, 0, 0}, 10, 1, -1), frame (1, {1}, 20, 2, -1),
                                     frame (2, {2}, 30, 3, 3), frame (0, {1}, 40, 1, -1)});
        write ("anim.gif", std::string (gif.begin (), gif.end ()));
        write ("junk.txt", std::string (40, 'x'));
        write ("trunc.ppm", "P6\n40 30\n255\n" + std::string (30, 'a'));
    }
    void TearDown () override { run_program ({"rm", "-rf", dir_}); }

    std::string path (const std::string &name) const { return dir_ + "/" + name; }
    void write (const std::string &name, const std::string &bytes) const
    {
        ASSERT_TRUE (g_file_set_contents (path (name).c_str (), bytes.data (), gssize (bytes.size ()), nullptr));
    }
    ProgramRun run (std::vector<std::string> args) const
    {
        args.insert (args.begin (), TAMBA_TOOL_PATH);
        return run_program (args, dir_.c_str ());
    }
    Image load (const std::string &name) const { return Image (tamba_new_from_file (path (name).c_str ())); }
    // What `checksum` prints for a file, which must load.
    std::string checksum_of (const std::string &name) const
    {
        const ProgramRun r = run ({"checksum", name});
        EXPECT_EQ (r.status, 0) << r.err;
        return r.out;
    }

    const std::string dir_ = std::unique_ptr<gchar, decltype (&g_free)> (g_dir_make_tmp ("tamba-tool-test-XXXXXX", nullptr), &g_free).get ();
};

// The exit status, and a line stderr and one stdout must hold ("" for any).
TEST_F (ToolTest, ExitCodesAndErrorLines)
{
    const std::string version = std::string ("tamba-tool ") + tamba_version + "\n";
    const struct { std::vector<std::string> args; int status; const char *err, *out; } cases[] = {
        {{"--version"}, 0, "", version.c_str ()},
        {{}, 2, "", ""},
        {{"resize"}, 2, "unknown command 'resize'", ""},
        {{"checksum", "missing.png"}, 1, "missing.png: cannot open: No such file or directory\n", ""},
        {{"checksum", "junk.txt"}, 1, "junk.txt: no loader recognises this file\n", ""},
        {{"checksum", "trunc.ppm"}, 1, "trunc.ppm: cannot decode: PNM: ", ""},
        {{"info", "photo.ppm", "missing.png", "junk.txt"}, 1, "missing.png: cannot open", "photo.ppm: pnm, 40x30, 3 channels, no alpha\n"},
        {{"info", "--frobnicate", "photo.ppm"}, 2, "Unknown option --frobnicate", ""},
        {{"info"}, 2, "no file given", ""},
        {{"color", "red", "no such colour", "White"}, 1, "no such colour: ", "red 65535 0 0\nWhite 65535 65535 65535\n"},
        {{"progressive", "junk.txt"}, 1, "junk.txt: no loader recognises this file\n", ""},
        {{"progressive", "--piece", "0", "photo.ppm"}, 2, "--piece", ""},
        {{"convert", "photo.ppm"}, 2, "expected IN and OUT", ""},
        {{"convert", "photo.ppm", "out.xyz"}, 2, "OUT must end in", ""},
        {{"convert", "--size", "4x4", "--fit", "3", "photo.ppm", "o.png"}, 2, "exclude", ""},
        {{"convert", "--checkerboard", "8", "alpha.png", "o.png"}, 2, "expected IN and OUT", ""},
        {{"convert", "--all-frames", "anim.gif", "o.png"}, 2, "%d", ""},
        {{"convert", "--frame", "4", "anim.gif", "o.png"}, 1, "anim.gif: has no frame 4", ""},
        {{"thumbnail", "--jobs", "0", "photo.ppm"}, 2, "--jobs", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE (::testing::PrintToString (c.args));
        const ProgramRun r = run (c.args);
        EXPECT_EQ (r.status, c.status) << r.err;
        EXPECT_NE (r.err.find (c.err), std::string::npos) << r.err;
        EXPECT_NE (r.out.find (c.out), std::string::npos) << r.out;
    }
}

TEST_F (ToolTest, ConvertGivesWhatTheLibraryComputes)
{
    using tamba::tool::kCheckDark, tamba::tool::kCheckLight;
    const auto same = [] (const Tamba *src) { return Image (tamba_copy (src)); };
    const auto scaled = [] (int w, int h, GdkInterpType interp) {
        return [=] (const Tamba *src) { return Image (tamba_scale_simple (src, w, h, interp)); };
    };
    const auto checks = [] (int w, int h, GdkInterpType interp, int size) {
        return [=] (const Tamba *src) {
            return Image (tamba_composite_color_simple (src, w, h, interp, 255, size, kCheckLight, kCheckDark));
        };
    };
    const auto rgb = [] (const Tamba *src) {
        Image out (tamba_new (GDK_COLORSPACE_RGB, FALSE, 8, src->width, src->height));
        for (int y = 0; y < src->height; y++)
            for (int x = 0; x < src->width; x++)
                std::memcpy (out->pixels + y * out->rowstride + 3 * x, src->pixels + y * src->rowstride + 4 * x, 3);
        return out;
    };
    const struct { std::vector<std::string> options; const char *in, *out; std::function<Image (const Tamba *)> expected; } cases[] = {
        {{}, "photo.ppm", "same.png", same},
        {{}, "alpha.png", "same.bmp", same},
        {{"--progressive=7"}, "alpha.png", "pieces.png", same},
        {{}, "alpha.png", "flat.ppm", rgb},
        {{"--size", "17x9"}, "photo.ppm", "down.png", scaled (17, 9, GDK_INTERP_HYPER)},
        {{"--size", "50x45"}, "photo.ppm", "up.png", scaled (50, 45, GDK_INTERP_BILINEAR)},
        {{"--scale", "0.5", "--interp", "tiles"}, "alpha.png", "half.png", scaled (15, 20, GDK_INTERP_TILES)},
        {{"--fit", "20", "--interp", "nearest"}, "photo.ppm", "fit.png", scaled (20, 15, GDK_INTERP_NEAREST)},
        {{"--fit", "6"}, "photo.ppm", "fit6.png", scaled (6, 5, GDK_INTERP_HYPER)},  // 30 * 6 / 40 = 4.5 rounds to 5
        {{"--checkerboard=4"}, "alpha.png", "checks.png", checks (30, 40, GDK_INTERP_NEAREST, 4)},
        {{"--checkerboard", "--fit", "10"}, "alpha.png", "small-checks.png", checks (8, 10, GDK_INTERP_HYPER, 8)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE (c.out);
        std::vector<std::string> args {"convert"};
        args.insert (args.end (), c.options.begin (), c.options.end ());
        args.insert (args.end (), {c.in, c.out});
        const ProgramRun r = run (args);
        ASSERT_EQ (r.status, 0) << r.err;
        const Image src = load (c.in);
        ASSERT_TRUE (src);
        EXPECT_EQ (checksum_of (c.out), checksum_line (c.out, c.expected (src.get ()).get ()));
    }
}

// The canvas after each frame: retain keeps it, dispose clears the frame's pixel afterwards,
// revert puts back what was under the frame. 0 stands for transparent.
TEST_F (ToolTest, AllFramesAreComposedOnTheCanvas)
{
    constexpr guint32 R = 0xff0000ff, G = 0x00ff00ff, B = 0x0000ffff;
    const guint32 expected[4][3] = {{R, R, R}, {R, G, R}, {R, 0, B}, {G, 0, R}};
    ProgramRun r = run ({"convert", "--all-frames", "anim.gif", "frame-%d.png"});
    ASSERT_EQ (r.status, 0) << r.err;
    EXPECT_FALSE (g_file_test (path ("frame-4.png").c_str (), G_FILE_TEST_EXISTS));
    for (int i = 0; i < 4; i++) {
        const Image frame = load ("frame-" + std::to_string (i) + ".png");
        ASSERT_TRUE (frame && frame->width == 3 && frame->has_alpha) << i;
        for (int x = 0; x < 3; x++) {
            const guchar *p = frame->pixels + 4 * x;
            const guint32 rgba = guint32 (p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
            EXPECT_EQ (p[3] == 0 ? 0u : rgba, expected[i][x]) << "frame " << i << ", pixel " << x;
        }
    }
    r = run ({"convert", "--frame", "2", "--progressive=5", "anim.gif", "two.png"});
    ASSERT_EQ (r.status, 0) << r.err;
    const std::string two = checksum_of ("two.png"), frame = checksum_of ("frame-2.png");
    EXPECT_EQ (two.substr (two.find (' ')), frame.substr (frame.find (' ')));
}

// Whatever the piece size, the frames come out the same, between the first and last signals.
TEST_F (ToolTest, ProgressivePrintsEachSignal)
{
    const std::string frames = "frame_done 0,0 3x1 10 retain\nframe_done 1,0 1x1 20 dispose\n"
                               "frame_done 2,0 1x1 30 revert\nframe_done 0,0 1x1 40 retain\n";
    for (const char *piece : {"1", "13", "4096"}) {
        SCOPED_TRACE (piece);
        ProgramRun r = run ({"progressive", "--piece", piece, "anim.gif"});
        ASSERT_EQ (r.status, 0) << r.err;
        std::string seen;
        for (size_t at = r.out.find ("frame_done"); at != std::string::npos; at = r.out.find ("frame_done", at + 1))
            seen += r.out.substr (at, r.out.find ('\n', at) + 1 - at);
        EXPECT_EQ (seen, frames);
        EXPECT_EQ (r.out.rfind ("area_prepared 3x1\n", 0), 0u) << r.out;
        EXPECT_TRUE (g_str_has_suffix (r.out.c_str (), "animation_done\nclosed\n")) << r.out;
        r = run ({"progressive", "--piece", piece, "alpha.png"});
        ASSERT_EQ (r.status, 0) << r.err;
        EXPECT_EQ (r.out.rfind ("area_prepared 30x40\narea_updated 0,", 0), 0u) << r.out;
        EXPECT_TRUE (g_str_has_suffix (r.out.c_str (), "\nclosed\n")) << r.out;
    }
}

// Larger images are scaled as tamba_new_from_file_at_size scales them, smaller ones are kept;
// the names drop the extension; two workers give the same files as one process.
TEST_F (ToolTest, ThumbnailsInOneOrTwoProcesses)
{
    const struct { const char *in, *out; bool scaled; } files[] = {{"photo.ppm", "photo.png", true}, {"small.ppm", "small.png", false}, {"alpha.png", "alpha.png", true}};
    for (const char *jobs : {"1", "2"}) {
        SCOPED_TRACE (jobs);
        const std::string out = std::string ("thumbs-") + jobs + "/deeper";
        const ProgramRun r = run ({"thumbnail", "--size", "16", "--jobs", jobs, "--output-dir", out, "photo.ppm",
                                   "junk.txt", "small.ppm", "missing.png", "alpha.png"});
        EXPECT_EQ (r.status, 1);
        for (const char *line : {"junk.txt: no loader recognises this file\n", "missing.png: cannot open", "3 done, 2 failed"})
            EXPECT_NE (r.err.find (line), std::string::npos) << r.err;
        for (const auto &f : files) {
            const Image expected (f.scaled ? tamba_new_from_file_at_size (path (f.in).c_str (), 16, 16, TRUE)
                                           : tamba_new_from_file (path (f.in).c_str ()));
            ASSERT_TRUE (expected) << f.in;
            EXPECT_EQ (std::max (expected->width, expected->height), f.scaled ? 16 : 10);
            const std::string thumb = out + "/" + f.out;
            EXPECT_EQ (checksum_of (thumb), checksum_line (thumb, expected.get ()));
        }
    }
}

}  // namespace
}  // namespace tamba::test
