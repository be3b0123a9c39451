// SPDX-License-Identifier: LGPL-2.1-or-later
// The format table, opening loader modules, and whole-file, fitted-size and XPM-data loading.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "tamba-hooks.h"
#include "tamba-loading.h"
#include "tamba-private.h"

namespace {

using tamba::detail::File;

gchar *module_dir_override = nullptr;  // set by the test hook only

// Each test looks only at bytes it has been given: sizes below the format's minimum are refused
// before any byte is read.
bool has_prefix (const guchar *buffer, int size, int minimum, const char *prefix, size_t length)
{
    return size >= minimum && std::memcmp (buffer, prefix, length) == 0;
}

gboolean tamba_check_png (guchar *buffer, int size)
{
    return has_prefix (buffer, size, 28, "\x89PNG\r\n\x1a\n", 8);
}

gboolean tamba_check_jpeg (guchar *buffer, int size)
{
    return has_prefix (buffer, size, 10, "\xff\xd8", 2);
}

gboolean tamba_check_tiff (guchar *buffer, int size)
{
    return has_prefix (buffer, size, 10, "MM\x00\x2a", 4)
           || has_prefix (buffer, size, 10, "II\x2a\x00", 4);
}

gboolean tamba_check_gif (guchar *buffer, int size)
{
    return has_prefix (buffer, size, 20, "GIF8", 4);
}

gboolean tamba_check_xpm (guchar *buffer, int size)
{
    return has_prefix (buffer, size, 20, "/* XPM */", 9);
}

gboolean tamba_check_pnm (guchar *buffer, int size)
{
    return size >= 20 && buffer[0] == 'P' && buffer[1] >= '1' && buffer[1] <= '6';
}

gboolean tamba_check_sunras (guchar *buffer, int size)
{
    return has_prefix (buffer, size, 32, "\x59\xa6\x6a\x95", 4);
}

// Byte 4 (the low byte of the image count) may be anything.
gboolean tamba_check_ico (guchar *buffer, int size)
{
    return size >= 6 && buffer[0] == 0 && buffer[1] == 0 && (buffer[2] == 1 || buffer[2] == 2)
           && buffer[3] == 0 && buffer[5] == 0;
}

gboolean tamba_check_bmp (guchar *buffer, int size)
{
    return has_prefix (buffer, size, 20, "BM", 2);
}

gboolean tamba_check_xbm (guchar *buffer, int size)
{
    return has_prefix (buffer, size, 20, "#define ", 8);
}

constexpr TambaModule format (const char *name, gboolean (*check) (guchar *, int))
{
    TambaModule record {};
    record.module_name = const_cast<char *> (name);
    record.format_check = check;
    return record;
}

// Only the name and the test are set at start; a module, once opened, stays in its record for
// the life of the process. The record with a null name ends the table.
TambaModule file_formats[] = {
    format ("png", tamba_check_png),   format ("jpeg", tamba_check_jpeg),
    format ("tiff", tamba_check_tiff), format ("gif", tamba_check_gif),
    format ("xpm", tamba_check_xpm),   format ("pnm", tamba_check_pnm),
    format ("ras", tamba_check_sunras), format ("ico", tamba_check_ico),
    format ("bmp", tamba_check_bmp),   format ("xbm", tamba_check_xbm),
    format (nullptr, nullptr),
};

// The xpm record is found by its place, not by searching the table.
TambaModule &xpm_format = file_formats[4];

gboolean tamba_module_symbol (GModule *module, const char *module_name, const char *symbol_name,
                              gpointer *symbol)
{
    gchar *name = g_strconcat ("tamba__", module_name, "_", symbol_name, nullptr);
    const gboolean found = g_module_symbol (module, name, symbol);
    g_free (name);
    return found;
}

// Stores the entry's address in field when the module exports it; a missing entry stays null.
template <typename Field>
void bind_entry (TambaModule *image_module, const char *entry, Field *field)
{
    gpointer symbol = nullptr;
    if (tamba_module_symbol (image_module->module, image_module->module_name, entry, &symbol))
        *field = reinterpret_cast<Field> (symbol);
}

GModule *open_module_file (const gchar *directory, const gchar *name, gchar **path)
{
    *path = g_module_build_path (directory, name);
    return g_module_open (*path, G_MODULE_BIND_LAZY);
}

}  // namespace

namespace tamba::hooks {

void set_module_dir (const char *directory)
{
    g_free (module_dir_override);
    module_dir_override = g_strdup (directory);
}

}  // namespace tamba::hooks

extern "C" TambaModule *tamba_get_module (guchar *buffer, guint size)
{
    // The tests take a signed size; anything beyond its range is more than any test needs.
    const int checked = size > guint (G_MAXINT) ? G_MAXINT : int (size);
    for (TambaModule *m = file_formats; m->module_name; m++)
        if (m->format_check (buffer, checked)) return m;
    return nullptr;
}

namespace tamba::detail {

gchar *open_module (TambaModule *image_module)
{
    gchar *name = g_strconcat ("tambaloader-", image_module->module_name, nullptr);
    gchar *path = nullptr;
    GModule *module = open_module_file (module_dir_override ? module_dir_override : TAMBA_MODULE_DIR,
                                        name, &path);
    if (!module) {
        // An empty directory leaves the bare file name to the platform's library search.
        g_free (path);
        module = open_module_file ("", name, &path);
    }
    g_free (name);
    if (!module) {
        gchar *error = g_strdup_printf (kModuleOpenFailed, path, g_module_error ());
        g_free (path);
        return error;
    }
    g_free (path);
    image_module->module = module;

    bind_entry (image_module, "image_load", &image_module->load);
    bind_entry (image_module, "image_load_xpm_data", &image_module->load_xpm_data);
    bind_entry (image_module, "image_begin_load", &image_module->begin_load);
    bind_entry (image_module, "image_stop_load", &image_module->stop_load);
    bind_entry (image_module, "image_load_increment", &image_module->load_increment);
    bind_entry (image_module, "image_load_animation", &image_module->load_animation);
    bind_entry (image_module, "image_save", &image_module->save);
    bind_entry (image_module, "image_load_at_size", &image_module->load_at_size);
    return nullptr;
}

TambaModule *find_format (const char *name)
{
    for (TambaModule *m = file_formats; m->module_name; m++)
        if (std::strcmp (m->module_name, name) == 0) return m;
    return nullptr;
}

}  // namespace tamba::detail

extern "C" void tamba_load_module (TambaModule *image_module)
{
    TAMBA_RETURN_IF_FAIL (image_module != nullptr, "image_module != NULL");
    TAMBA_RETURN_IF_FAIL (image_module->module == nullptr, "image_module->module == NULL");

    if (gchar *error = tamba::detail::open_module (image_module)) {
        g_log (nullptr, G_LOG_LEVEL_WARNING, "%s", error);
        g_free (error);
    }
}

namespace tamba::detail {

TambaModule *open_with_module (const char *filename, File *file)
{
    File f (std::fopen (filename, "rb"));
    if (!f) return nullptr;

    guchar buffer[kHeaderSize];
    const size_t size = std::fread (buffer, 1, sizeof buffer, f.get ());
    if (size == 0) return nullptr;

    TambaModule *image_module = tamba_get_module (buffer, guint (size));
    if (!image_module) {
        g_log (nullptr, G_LOG_LEVEL_WARNING, kNoHandler, filename);
        return nullptr;
    }
    if (!image_module->module) tamba_load_module (image_module);

    // A stream that cannot go back (a pipe) would reach the module without its first bytes.
    if (std::fseek (f.get (), 0, SEEK_SET) != 0) return nullptr;
    *file = std::move (f);
    return image_module;
}

}  // namespace tamba::detail

extern "C" Tamba *tamba_new_from_file (const char *filename)
{
    TAMBA_RETURN_VAL_IF_FAIL (filename != nullptr, "filename != NULL", nullptr);

    File file;
    TambaModule *image_module = tamba::detail::open_with_module (filename, &file);
    if (!image_module || !image_module->load) return nullptr;

    Tamba *tamba = image_module->load (file.get ());
    file.reset ();
    if (tamba) TAMBA_ASSERT (tamba->ref_count > 0, "tamba->ref_count > 0");
    return tamba;
}

namespace tamba::detail {
namespace {

// side * numerator / denominator rounded to nearest (halves up), kept within 1..limit. Sides are
// ints, so the products fit in 64 bits.
int scaled_side (int side, int numerator, int denominator, int limit)
{
    const std::int64_t doubled = std::int64_t (side) * numerator * 2 + denominator;
    return int (std::clamp<std::int64_t> (doubled / (2 * std::int64_t (denominator)), 1, limit));
}

// The size a w x h image takes to fit a width x height box keeping its aspect: the side that
// limits is the box's, the other is scaled by the same factor.
void fit_inside (int w, int h, int width, int height, int *out_w, int *out_h)
{
    if (std::int64_t (width) * h <= std::int64_t (height) * w) {
        *out_w = width;
        *out_h = scaled_side (h, width, w, height);
    } else {
        *out_w = scaled_side (w, height, h, width);
        *out_h = height;
    }
}


// The size of the file's image, from the module's progressive entries: they prepare the image
// as soon as its header is in, and the rest is not fed. The file is rewound afterwards. False
// (the module having warned) when no image was prepared or a piece was refused.
bool peek_size (TambaModule *image_module, FILE *f, int *width, int *height)
{
    struct Seen {
        int width = 0, height = 0;
    } seen;
    const TambaPrepareFunc note = [] (Tamba *tamba, gpointer data) {
        auto *s = static_cast<Seen *> (data);
        s->width = tamba->width;
        s->height = tamba->height;
    };
    // Nothing here takes a reference at prepare, which tells the module that the rows it has
    // not decoded yet are wanted by no one.
    gpointer context = image_module->begin_load (note, nullptr, nullptr, nullptr, &seen);
    if (!context) return false;
    guchar buffer[4096];
    size_t piece = kHeaderSize;  // the header bytes first, as the progressive loader sends them
    size_t n = 0;
    bool fed = true;
    while (fed && seen.width == 0 && (n = std::fread (buffer, 1, piece, f)) > 0) {
        fed = image_module->load_increment (context, buffer, guint (n));
        piece = sizeof buffer;
    }
    image_module->stop_load (context);
    *width = seen.width;
    *height = seen.height;
    // A refused piece has been reported already, and a whole load would only fail again.
    return fed && seen.width > 0 && std::fseek (f, 0, SEEK_SET) == 0;
}

// The image for a width x height target, or NULL: a reduced decode where the module offers one,
// never below the target's size; else the whole image. The target (*dest_w, *dest_h) is made to
// fit the image's own size first when preserve_aspect is set.
Tamba *load_for_size (TambaModule *image_module, FILE *f, bool preserve_aspect, int *dest_w,
                      int *dest_h)
{
    const bool can_peek = image_module->begin_load && image_module->load_increment
                          && image_module->stop_load;
    if (image_module->load_at_size && (!preserve_aspect || can_peek)) {
        if (preserve_aspect) {
            int full_w = 0, full_h = 0;
            if (!peek_size (image_module, f, &full_w, &full_h)) return nullptr;
            fit_inside (full_w, full_h, *dest_w, *dest_h, dest_w, dest_h);
        }
        return image_module->load_at_size (f, *dest_w, *dest_h);
    }
    if (!image_module->load) return nullptr;
    Tamba *loaded = image_module->load (f);
    if (loaded && preserve_aspect)
        fit_inside (loaded->width, loaded->height, *dest_w, *dest_h, dest_w, dest_h);
    return loaded;
}

}  // namespace
}  // namespace tamba::detail

extern "C" Tamba *tamba_new_from_file_at_size (const char *filename, int width, int height,
                                               gboolean preserve_aspect)
{
    TAMBA_RETURN_VAL_IF_FAIL (filename != nullptr, "filename != NULL", nullptr);
    TAMBA_RETURN_VAL_IF_FAIL (width > 0, "width > 0", nullptr);
    TAMBA_RETURN_VAL_IF_FAIL (height > 0, "height > 0", nullptr);

    File file;
    TambaModule *image_module = tamba::detail::open_with_module (filename, &file);
    if (!image_module) return nullptr;
    int dest_w = width, dest_h = height;
    Tamba *loaded = tamba::detail::load_for_size (image_module, file.get (), preserve_aspect,
                                                  &dest_w, &dest_h);
    file.reset ();
    if (!loaded) return nullptr;
    TAMBA_ASSERT (loaded->ref_count > 0, "tamba->ref_count > 0");
    if (dest_w == loaded->width && dest_h == loaded->height) return loaded;

    // Fewer pixels than the source is a reduction, which wants the filter that averages. A
    // reduced decode is never below the target on either side, so this gives the same filter
    // as the file's full image would.
    const bool reducing = std::int64_t (dest_w) * dest_h
                          < std::int64_t (loaded->width) * loaded->height;
    Tamba *scaled = tamba_scale_simple (loaded, dest_w, dest_h,
                                        reducing ? GDK_INTERP_HYPER : GDK_INTERP_BILINEAR);
    tamba_unref (loaded);
    if (!scaled)
        g_log (nullptr, G_LOG_LEVEL_WARNING, tamba::detail::kNoMemoryToScale, filename, dest_w,
               dest_h);
    return scaled;
}

extern "C" Tamba *tamba_new_from_xpm_data (const char **data)
{
    if (!xpm_format.module) tamba_load_module (&xpm_format);
    if (!xpm_format.module) {
        g_log (nullptr, G_LOG_LEVEL_WARNING, tamba::detail::kNoXpmModule);
        return nullptr;
    }
    if (!xpm_format.load_xpm_data) {
        g_log (nullptr, G_LOG_LEVEL_WARNING, tamba::detail::kNoXpmData);
        return nullptr;
    }
    return xpm_format.load_xpm_data (data);
}
