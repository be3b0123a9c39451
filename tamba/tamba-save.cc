// SPDX-License-Identifier: LGPL-2.1-or-later
// Saving an image through its format's loader module: the checks the modules can rely on,
// opening the file, and one warning for whatever goes wrong.
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <glib/gstdio.h>
#include <sys/stat.h>

#include "tamba-loading.h"
#include "tamba-private.h"

namespace tamba::detail {
namespace {

constexpr int kDefaultQuality = 90;

G_GNUC_PRINTF (2, 3) gboolean save_failed (const char *filename, const char *reason, ...)
{
    va_list args;
    va_start (args, reason);
    gchar *text = g_strdup_vprintf (reason, args);
    va_end (args);
    g_log (nullptr, G_LOG_LEVEL_WARNING, kSaveFailed, filename, text);
    g_free (text);
    return FALSE;
}

// What every saver may assume: 8-bit RGB or RGBA with pixels and rows at least a row wide.
bool image_is_valid (const Tamba *t)
{
    return t->colorspace == GDK_COLORSPACE_RGB && t->bits_per_sample == 8
           && t->n_channels == (t->has_alpha ? 4 : 3) && t->width > 0 && t->height > 0
           && t->pixels != nullptr
           && std::int64_t (t->rowstride) >= std::int64_t (t->width) * t->n_channels;
}

}  // namespace
}  // namespace tamba::detail

using namespace tamba::detail;

extern "C" gboolean tamba_save_with_quality (const Tamba *tamba, const char *filename,
                                             const char *format, int quality)
{
    TAMBA_RETURN_VAL_IF_FAIL (tamba != nullptr, "tamba != NULL", FALSE);
    TAMBA_RETURN_VAL_IF_FAIL (filename != nullptr, "filename != NULL", FALSE);
    TAMBA_RETURN_VAL_IF_FAIL (format != nullptr, "format != NULL", FALSE);

    if (quality < 1 || quality > 100) return save_failed (filename, kSaveBadQuality, quality);
    if (!image_is_valid (tamba)) return save_failed (filename, kSaveBadImage);
    TambaModule *image_module = find_format (format);
    if (!image_module) return save_failed (filename, kSaveUnknownFormat, format);
    if (!image_module->module) {
        if (gchar *error = open_module (image_module)) {
            save_failed (filename, "%s", error);
            g_free (error);
            return FALSE;
        }
    }
    if (!image_module->save) return save_failed (filename, kSaveNoSaver, format);

    FILE *f = std::fopen (filename, "wb");
    if (!f) return save_failed (filename, kSaveCannotOpen, g_strerror (errno));
    // Only a regular file is removed after a failure; a device or a pipe is left alone.
    struct stat st;
    const bool regular = fstat (fileno (f), &st) == 0 && S_ISREG (st.st_mode);

    errno = 0;
    const bool encoded = image_module->save (f, tamba, quality);
    int write_errno = std::ferror (f) ? errno : 0;
    const bool write_failed = std::ferror (f) != 0;
    const bool closed = std::fclose (f) == 0;
    if (!closed && !write_failed) write_errno = errno;

    if (encoded && !write_failed && closed) return TRUE;
    if (regular) g_remove (filename);
    if (write_failed || !closed)
        return save_failed (filename, kSaveWriteError,
                            write_errno ? g_strerror (write_errno) : "unknown error");
    return save_failed (filename, kSaveEncodeFailed, format);
}

extern "C" gboolean tamba_save (const Tamba *tamba, const char *filename, const char *format)
{
    TAMBA_RETURN_VAL_IF_FAIL (tamba != nullptr, "tamba != NULL", FALSE);
    TAMBA_RETURN_VAL_IF_FAIL (filename != nullptr, "filename != NULL", FALSE);
    TAMBA_RETURN_VAL_IF_FAIL (format != nullptr, "format != NULL", FALSE);
    return tamba_save_with_quality (tamba, filename, format, kDefaultQuality);
}
