// SPDX-License-Identifier: LGPL-2.1-or-later
// The one message style of the modules: a single g_warning line "<FORMAT>: <reason>", such as
// "BMP: unsupported compression 4". A failed load leaves exactly one such line.
#ifndef TAMBA_LOADERS_COMMON_MESSAGES_H
#define TAMBA_LOADERS_COMMON_MESSAGES_H

#include <glib.h>

#include <cstdarg>

#include "limits.h"

namespace tamba::loader {

// Line breaks and tabs in the reason (codec libraries write multi-line texts) become spaces.
G_GNUC_PRINTF (2, 0) inline void warn_v (const Format &format, const char *fmt, va_list args)
{
    gchar *text = g_strdup_vprintf (fmt, args);
    for (gchar *c = text; *c; ++c)
        if (*c == '\n' || *c == '\r' || *c == '\t') *c = ' ';
    g_warning ("%s: %s", format.name, text);
    g_free (text);
}

G_GNUC_PRINTF (2, 3) inline void warn (const Format &format, const char *fmt, ...)
{
    va_list args;
    va_start (args, fmt);
    warn_v (format, fmt, args);
    va_end (args);
}

// Copies a message into a fixed buffer, for code that must not allocate (a longjmp may follow).
template <size_t N>
inline void keep_message (char (&dest)[N], const char *text) noexcept
{
    g_strlcpy (dest, text ? text : "unknown error", N);
}

}  // namespace tamba::loader

#endif  // TAMBA_LOADERS_COMMON_MESSAGES_H
