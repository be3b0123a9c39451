#include "xvfb-fixture.h"

#include <gdk/gdkx.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace tamba::test {

namespace {

std::vector<std::string> split_words (const std::string &s)
{
    std::istringstream in (s);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back (w);
    return words;
}

class XvfbEnvironment : public ::testing::Environment {
public:
    void SetUp () override
    {
        std::vector<std::string> words = split_words (xvfb_config ());
        const std::string screen = "640x480x" + words.at (0);
        std::vector<std::string> args = {"Xvfb", "-displayfd", "3", "-nolisten", "tcp",
                                          "-noreset", "-screen", "0", screen};
        args.insert (args.end (), words.begin () + 1, words.end ());

        int fds[2];
        ASSERT_EQ (pipe (fds), 0);
        pid_ = fork ();
        ASSERT_GE (pid_, 0);
        if (pid_ == 0) {
            dup2 (fds[1], 3);
            if (fds[0] != 3) close (fds[0]);
            if (fds[1] != 3) close (fds[1]);
            std::vector<char *> argv;
            for (auto &a : args) argv.push_back (a.data ());
            argv.push_back (nullptr);
            // The server's chatter would bury test output.
            if (freopen ("/dev/null", "w", stderr) == nullptr) _exit (126);
            execvp ("Xvfb", argv.data ());
            _exit (127);
        }
        close (fds[1]);
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        while (number.find ('\n') == std::string::npos && poll (&p, 1, 10000) > 0) {
            char buf[32];
            const ssize_t n = read (fds[0], buf, sizeof buf);
            if (n <= 0) break;
            number.append (buf, size_t (n));
        }
        close (fds[0]);
        ASSERT_NE (number.find ('\n'), std::string::npos)
            << "Xvfb (" << xvfb_config () << ") did not start; is the xvfb package installed?";
        display_ = ":" + number.substr (0, number.find ('\n'));

        std::string prog = "x11-test", opt = "--display", name = display_;
        char *argv[] = {prog.data (), opt.data (), name.data (), nullptr};
        int argc = 3;
        char **argvp = argv;
        ASSERT_TRUE (gdk_init_check (&argc, &argvp)) << "no X display at " << display_;
        ASSERT_EQ (argc, 1);  // the layer took its option out
    }

    void TearDown () override
    {
        if (pid_ > 0) {
            kill (pid_, SIGTERM);
            int status;
            while (waitpid (pid_, &status, 0) < 0 && errno == EINTR) {
            }
        }
    }

private:
    pid_t pid_ = -1;
    std::string display_;
};

const bool registered = [] {
    ::testing::AddGlobalTestEnvironment (new XvfbEnvironment);
    return true;
}();

guchar widen (guint32 field, int prec)
{
    if (prec <= 0) return 0;
    if (prec >= 8) return guchar (field >> (prec - 8));
    guint32 v = 0;
    for (int have = 0; have < 8; have += prec) v = (v << prec) | field;
    // v now holds at least 8 bits of repeated field; keep the top 8 of them.
    int bits = ((8 + prec - 1) / prec) * prec;
    return guchar (v >> (bits - 8));
}

}  // namespace

const std::string &xvfb_config ()
{
    static const std::string config = [] {
        const char *c = std::getenv ("TAMBA_XVFB");
        return std::string (c && *c ? c : "24");
    }();
    return config;
}

std::vector<guint32> read_pixels (GdkDrawable *drawable, int x, int y, int width, int height)
{
    std::vector<guint32> out;
    GdkImage *image = gdk_image_get (drawable, x, y, width, height);
    EXPECT_NE (image, nullptr);
    if (!image) return out;
    for (int j = 0; j < height; ++j)
        for (int i = 0; i < width; ++i) out.push_back (gdk_image_get_pixel (image, i, j));
    gdk_image_destroy (image);
    return out;
}

Rgb colour_of_pixel (guint32 pixel, const GdkVisual *v, const GdkColormap *cmap)
{
    const guint32 masks[3] = {v->red_mask, v->green_mask, v->blue_mask};
    const int shifts[3] = {v->red_shift, v->green_shift, v->blue_shift};
    const int precs[3] = {v->red_prec, v->green_prec, v->blue_prec};
    guchar out[3];
    for (int c = 0; c < 3; ++c) {
        const guint32 field = precs[c] ? (pixel & masks[c]) >> shifts[c] : 0;
        if (v->type == GDK_VISUAL_TRUE_COLOR) {
            out[c] = widen (field, precs[c]);
        } else if (v->type == GDK_VISUAL_DIRECT_COLOR) {
            const GdkColor &cell = cmap->colors[field];
            out[c] = guchar ((c == 0 ? cell.red : c == 1 ? cell.green : cell.blue) & 0xff);
        } else {
            const GdkColor &cell = cmap->colors[pixel];
            out[c] = guchar ((c == 0 ? cell.red : c == 1 ? cell.green : cell.blue) & 0xff);
        }
    }
    return {out[0], out[1], out[2]};
}

void fill_drawable (GdkDrawable *drawable, guint32 pixel)
{
    GdkGC *gc = gdk_gc_new (drawable);
    GdkColor colour{};
    colour.pixel = pixel;
    gdk_gc_set_foreground (gc, &colour);
    gdk_draw_rectangle (drawable, gc, TRUE, 0, 0, -1, -1);
    gdk_gc_unref (gc);
}

GdkPixmap *rgb_pixmap (int width, int height, guint32 pixel)
{
    GdkPixmap *pixmap = gdk_pixmap_new (nullptr, width, height, gdk_rgb_get_visual ()->depth);
    fill_drawable (pixmap, pixel);
    return pixmap;
}

}  // namespace tamba::test
