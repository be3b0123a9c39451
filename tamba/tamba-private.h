// SPDX-License-Identifier: LGPL-2.1-or-later
// Internal helpers shared by the library's sources: message macros and the pixel release callback.
#ifndef TAMBA_TAMBA_PRIVATE_H
#define TAMBA_TAMBA_PRIVATE_H

#include <glib.h>

#include "tamba/tamba.h"

// A failed precondition of an exported or engine function: a critical message naming the
// documented expression text (which is not always the C++ expression tested), then return.
#define TAMBA_RETURN_VAL_IF_FAIL(expr, text, val)                                                \
    do {                                                                                        \
        if (G_LIKELY (expr)) break;                                                             \
        g_log (NULL, G_LOG_LEVEL_CRITICAL, "file %s: line %d (%s): assertion `%s' failed.",     \
               __FILE__, __LINE__, __func__, text);                                            \
        return (val);                                                                           \
    } while (0)

#define TAMBA_RETURN_IF_FAIL(expr, text)                                                        \
    do {                                                                                        \
        if (G_LIKELY (expr)) break;                                                             \
        g_log (NULL, G_LOG_LEVEL_CRITICAL, "file %s: line %d (%s): assertion `%s' failed.",     \
               __FILE__, __LINE__, __func__, text);                                            \
        return;                                                                                 \
    } while (0)

// A broken internal invariant: logged at error level, which ends the process.
#define TAMBA_ASSERT(expr, text)                                                                \
    do {                                                                                        \
        if (G_LIKELY (expr)) break;                                                             \
        g_log (NULL, G_LOG_LEVEL_ERROR, "file %s: line %d (%s): assertion failed: (%s)",        \
               __FILE__, __LINE__, __func__, text);                                            \
    } while (0)

namespace tamba::detail {

// Release callback for pixel memory the library allocated with malloc.
void free_buffer (guchar *pixels, gpointer data) noexcept;

}  // namespace tamba::detail

#endif  // TAMBA_TAMBA_PRIVATE_H
