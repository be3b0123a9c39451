// SPDX-License-Identifier: LGPL-2.1-or-later
// convert: one image, or the frames of an animation composed on its canvas, optionally scaled
// or put over a checkerboard, written in the format its name asks for.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <glib/gstdio.h>
#include <unistd.h>

#include "tool.h"

namespace tamba::tool {

namespace {

struct FormatByExtension {
    const char *extension;
    const char *format;
};

constexpr FormatByExtension kExtensions[] = {
    {".png", "png"}, {".jpg", "jpeg"}, {".jpeg", "jpeg"},
    {".ppm", "pnm"}, {".pam", "pnm"},  {".bmp", "bmp"},
};

constexpr const char *kInterpNames[] = {"nearest", "tiles", "bilinear", "hyper"};

// --checkerboard takes its size only in the "=" form, so the option needs a callback.
int checker_size = 0;

gboolean parse_checkerboard (const gchar *, const gchar *value, gpointer, GError **error)
{
    if (!value || !*value) {
        checker_size = 8;
        return TRUE;
    }
    char *end = nullptr;
    const long n = std::strtol (value, &end, 10);
    if (*value == '\0' || *end != '\0' || n < 1 || n > 65536) {
        g_set_error (error, G_OPTION_ERROR, G_OPTION_ERROR_BAD_VALUE,
                     "--checkerboard: the square size must be a number from 1 to 65536");
        return FALSE;
    }
    checker_size = int (n);
    return TRUE;
}

// One frame as the canvas composition needs it; a still image is one frame at 0,0.
struct Placed {
    const Tamba *image;
    int x, y;
    TambaFrameAction action;
};

void clear_rect (Tamba *canvas, int x0, int y0, int x1, int y1)
{
    for (int y = y0; y < y1; y++)
        std::memset (canvas->pixels + size_t (y) * size_t (canvas->rowstride) + size_t (x0) * 4,
                     0, size_t (x1 - x0) * 4);
}

// The canvas after each frame in turn (only after frame `only` when that is not -1), starting
// transparent: retain keeps what the frame drew, dispose clears the frame's area after it was
// shown, revert restores the canvas as it was before the frame.
std::vector<Image> compose (const std::vector<Placed> &frames, int width, int height, int only)
{
    std::vector<Image> out;
    Image canvas (tamba_new (GDK_COLORSPACE_RGB, TRUE, 8, width, height));
    if (!canvas) return out;
    clear_rect (canvas.get (), 0, 0, width, height);
    for (size_t i = 0; i < frames.size (); i++) {
        const Placed &f = frames[i];
        Image before (f.action == TAMBA_FRAME_REVERT ? tamba_copy (canvas.get ()) : nullptr);
        const int x0 = std::max (0, f.x), y0 = std::max (0, f.y);
        const int x1 = std::min (width, f.x + f.image->width);
        const int y1 = std::min (height, f.y + f.image->height);
        if (x0 < x1 && y0 < y1) {
            if (f.image->has_alpha)
                tamba_composite (f.image, canvas.get (), x0, y0, x1 - x0, y1 - y0, f.x, f.y, 1.0,
                                 1.0, GDK_INTERP_NEAREST, 255);
            else
                tamba_scale (f.image, canvas.get (), x0, y0, x1 - x0, y1 - y0, f.x, f.y, 1.0,
                             1.0, GDK_INTERP_NEAREST);
        }
        if (only < 0 || int (i) == only) {
            out.emplace_back (tamba_copy (canvas.get ()));
            if (!out.back ()) {
                out.clear ();
                return out;
            }
        }
        if (f.action == TAMBA_FRAME_DISPOSE && x0 < x1 && y0 < y1)
            clear_rect (canvas.get (), x0, y0, x1, y1);
        if (before) canvas = std::move (before);
    }
    return out;
}

std::string replace_all (std::string text, const std::string &what, const std::string &with)
{
    for (size_t at = text.find (what); at != std::string::npos;
         at = text.find (what, at + with.size ()))
        text.replace (at, what.size (), with);
    return text;
}

// An RGB copy for formats that should not carry alpha (.ppm is P6 by name).
Image without_alpha (const Tamba *image)
{
    Image rgb (tamba_new (GDK_COLORSPACE_RGB, FALSE, 8, image->width, image->height));
    if (!rgb) return rgb;
    for (int y = 0; y < image->height; y++) {
        const guchar *s = image->pixels + size_t (y) * size_t (image->rowstride);
        guchar *d = rgb->pixels + size_t (y) * size_t (rgb->rowstride);
        for (int x = 0; x < image->width; x++, s += 4, d += 3) std::memcpy (d, s, 3);
    }
    return rgb;
}

bool write_stdout (const Tamba *image, std::string *error)
{
    gchar *path = nullptr;
    GError *gerror = nullptr;
    const int fd = g_file_open_tmp ("tamba-tool-XXXXXX.png", &path, &gerror);
    if (fd < 0) {
        *error = std::string ("cannot save: ") + gerror->message;
        g_error_free (gerror);
        return false;
    }
    close (fd);
    bool ok = save_image (image, path, "png", 90, error);
    std::string bytes;
    if (ok) ok = read_file (path, &bytes, error);
    if (ok && (std::fwrite (bytes.data (), 1, bytes.size (), stdout) != bytes.size ()
               || std::fflush (stdout) != 0)) {
        *error = std::string ("cannot write: ") + std::strerror (errno);
        ok = false;
    }
    g_unlink (path);
    g_free (path);
    return ok;
}

struct Options {
    int width = 0, height = 0;  // --size
    double scale = NAN;  // NAN and -1: not given
    int fit = -1;
    int interp = -1;  // the default depends on the direction
    int frame = -1;
    bool all_frames = false;
    int progressive = 0;
    int quality = 90;
};

// The scaled (or checkerboard-composited) image, or the image itself when neither is asked for.
Image finish (Image image, const Options &o, std::string *error)
{
    const int w = image->width, h = image->height;
    int tw = w, th = h;
    const bool sized = o.width > 0 || !std::isnan (o.scale) || o.fit > 0;
    if (o.width > 0) {
        tw = o.width;
        th = o.height;
    } else if (!std::isnan (o.scale)) {
        tw = std::max (1, int (std::lround (w * o.scale)));
        th = std::max (1, int (std::lround (h * o.scale)));
    } else if (o.fit > 0) {
        fit_size (w, h, o.fit, &tw, &th);
    }
    const bool checker = checker_size > 0 && image->has_alpha;
    if (!sized && !checker) return image;

    GdkInterpType interp = GDK_INTERP_NEAREST;  // 1:1 over a checkerboard copies the pixels
    if (o.interp >= 0) interp = GdkInterpType (o.interp);
    else if (sized) interp = (tw <= w && th <= h) ? GDK_INTERP_HYPER : GDK_INTERP_BILINEAR;

    Image out (checker ? tamba_composite_color_simple (image.get (), tw, th, interp, 255,
                                                       checker_size, kCheckLight, kCheckDark)
                       : tamba_scale_simple (image.get (), tw, th, interp));
    if (!out) *error = "cannot scale to " + std::to_string (tw) + "x" + std::to_string (th);
    return out;
}

}  // namespace

void fit_size (int width, int height, int longest, int *fit_width, int *fit_height)
{
    if (width >= height) {
        *fit_width = longest;
        *fit_height = std::max (1, int (std::lround (double (height) * longest / width)));
    } else {
        *fit_height = longest;
        *fit_width = std::max (1, int (std::lround (double (width) * longest / height)));
    }
}

const char *format_for_file (const char *filename)
{
    const char *dot = std::strrchr (filename, '.');
    if (!dot || std::strchr (dot, '/')) return nullptr;
    for (const FormatByExtension &e : kExtensions)
        if (g_ascii_strcasecmp (dot, e.extension) == 0) return e.format;
    return nullptr;
}

bool save_image (const Tamba *image, const char *filename, const char *format, int quality,
                 std::string *error)
{
    take_log_message ();
    const gboolean ok = tamba_save_with_quality (image, filename, format, quality);
    if (!ok) {
        std::string warning = take_log_message ();
        // The library's warning names the file, which the error line already leads with.
        const std::string named = std::string ("Cannot save ") + filename + ": ";
        if (warning.compare (0, named.size (), named) == 0) warning.erase (0, named.size ());
        *error = "cannot save: " + (warning.empty () ? std::string ("the saver gave no reason")
                                                     : warning);
    }
    return ok;
}

int run_convert (int argc, char **argv)
{
    Options o;
    gchar *size = nullptr, *interp = nullptr;
    gboolean all_frames = FALSE;
    checker_size = 0;
    const GOptionEntry entries[] = {
        {"size", 's', 0, G_OPTION_ARG_STRING, &size, "Scale to exactly W x H pixels", "WxH"},
        {"scale", 0, 0, G_OPTION_ARG_DOUBLE, &o.scale, "Scale both sides by F", "F"},
        {"fit", 0, 0, G_OPTION_ARG_INT, &o.fit, "Scale so the longer side is N, aspect kept",
         "N"},
        {"interp", 'i', 0, G_OPTION_ARG_STRING, &interp,
         "nearest, tiles, bilinear or hyper (default hyper reducing, bilinear enlarging)",
         "TYPE"},
        {"checkerboard", 0, G_OPTION_FLAG_OPTIONAL_ARG, G_OPTION_ARG_CALLBACK,
         reinterpret_cast<gpointer> (parse_checkerboard),
         "Put images with alpha over a checkerboard of SIZE-pixel squares (default 8)", "SIZE"},
        {"frame", 'f', 0, G_OPTION_ARG_INT, &o.frame,
         "Write frame N (from 0) composed on the animation's canvas", "N"},
        {"all-frames", 'a', 0, G_OPTION_ARG_NONE, &all_frames,
         "Write every frame composed on the canvas; OUT holds %d for the frame number", nullptr},
        {"progressive", 0, 0, G_OPTION_ARG_INT, &o.progressive,
         "Read IN through the progressive loader in N-byte pieces", "N"},
        {"quality", 'q', 0, G_OPTION_ARG_INT, &o.quality, "JPEG quality 1..100 (default 90)",
         "Q"},
        {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
    };
    OptionContext context = make_context (
        "IN OUT", "Write IN to OUT in the format of OUT's extension (.png, .jpg, .jpeg, .ppm, "
        ".pam, .bmp; - writes PNG to standard output). Without a size option the pixels are "
        "written unchanged.", entries);
    // GOption would take the next argument as the optional value; the size goes after "=".
    std::string bare_checkerboard = "--checkerboard=";
    for (int i = 1; i < argc && std::strcmp (argv[i], "--") != 0; i++)
        if (std::strcmp (argv[i], "--checkerboard") == 0) argv[i] = bare_checkerboard.data ();
    const bool parsed = parse_options (context.get (), &argc, &argv);
    const std::string size_text = size ? size : "", interp_text = interp ? interp : "";
    g_free (size);
    g_free (interp);
    if (!parsed) return kExitUsage;
    o.all_frames = all_frames;

    if (argc != 3) return usage_error ("expected IN and OUT");
    const char *in = argv[1];
    const std::string out = argv[2];
    if (!size_text.empty ()) {
        char rest = 0;
        if (std::sscanf (size_text.c_str (), "%dx%d%c", &o.width, &o.height, &rest) != 2
            || o.width < 1 || o.height < 1)
            return usage_error ("--size wants WxH with W and H at least 1");
    }
    if ((o.width > 0) + !std::isnan (o.scale) + (o.fit != -1) > 1)
        return usage_error ("--size, --scale and --fit exclude each other");
    if (!std::isnan (o.scale) && !(o.scale > 0 && o.scale < 1e6))
        return usage_error ("--scale must be positive");
    if (o.fit != -1 && o.fit < 1) return usage_error ("--fit must be at least 1");
    if (!interp_text.empty ()) {
        for (int i = 0; i < 4; i++)
            if (interp_text == kInterpNames[i]) o.interp = i;
        if (o.interp < 0) return usage_error ("--interp wants nearest, tiles, bilinear or hyper");
    }
    if (o.frame < -1) return usage_error ("--frame counts from 0");
    if (o.frame >= 0 && o.all_frames) return usage_error ("--frame and --all-frames exclude each other");
    if (o.all_frames && (out == "-" || out.find ("%d") == std::string::npos))
        return usage_error ("--all-frames needs an output name holding %d");
    if (o.progressive < 0) return usage_error ("--progressive wants a piece size of at least 1");
    if (o.quality < 1 || o.quality > 100) return usage_error ("--quality must be 1..100");
    const char *format = out == "-" ? "png" : format_for_file (out.c_str ());
    if (!format)
        return usage_error ("OUT must end in .png, .jpg, .jpeg, .ppm, .pam or .bmp (or be -)");

    // The input, whole-file or through the progressive loader.
    std::string error;
    Image still;
    Animation animation;
    Loader loader;
    const bool frames = o.frame >= 0 || o.all_frames;
    if (o.progressive > 0) {
        loader = feed_loader (in, size_t (o.progressive), false, &error);
        if (loader && frames && tamba_loader_get_animation (loader.get ()))
            animation.reset (tamba_animation_ref (tamba_loader_get_animation (loader.get ())));
        else if (loader)
            still.reset (tamba_ref (tamba_loader_get_tamba (loader.get ())));
    } else if (frames) {
        animation = load_animation (in, &error);
    } else {
        still = load_image (in, &error);
    }
    loader.reset ();
    if (!still && !animation) {
        report (in, error);
        return kExitFailed;
    }

    std::vector<Image> images;
    if (frames) {
        std::vector<Placed> placed;
        int width = 0, height = 0;
        if (animation) {
            for (GList *l = animation->frames; l; l = l->next) {
                auto *f = static_cast<TambaFrame *> (l->data);
                placed.push_back ({f->tamba, f->x_offset, f->y_offset, f->action});
            }
            width = animation->width;
            height = animation->height;
        } else {
            placed.push_back ({still.get (), 0, 0, TAMBA_FRAME_RETAIN});
            width = still->width;
            height = still->height;
        }
        if (o.frame >= int (placed.size ())) {
            report (in, "has no frame " + std::to_string (o.frame) + " (" +
                            std::to_string (placed.size ()) + " frames)");
            return kExitFailed;
        }
        images = compose (placed, width, height, o.frame);
        if (images.empty ()) {
            report (in, "cannot compose the frames: out of memory");
            return kExitFailed;
        }
    } else {
        images.push_back (std::move (still));
    }

    int status = kExitOk;
    for (size_t i = 0; i < images.size (); i++) {
        const int number = o.all_frames ? int (i) : o.frame;
        const std::string name = number >= 0 ? replace_all (out, "%d", std::to_string (number))
                                             : out;
        Image image = finish (std::move (images[i]), o, &error);
        if (image && image->has_alpha && name.size () > 4
            && g_ascii_strcasecmp (name.c_str () + name.size () - 4, ".ppm") == 0) {
            image = without_alpha (image.get ());
            if (!image) error = "out of memory";
        }
        const bool ok = image && (out == "-" ? write_stdout (image.get (), &error)
                                             : save_image (image.get (), name.c_str (), format,
                                                           o.quality, &error));
        if (!ok) {
            report (out == "-" ? in : name.c_str (), error);
            status = kExitFailed;
        }
    }
    return status;
}

}  // namespace tamba::tool
