// SPDX-License-Identifier: LGPL-2.1-or-later
// Reference helpers for what pixel values mean, written apart from the library's own code.
#ifndef TAMBA_TESTS_PIXEL_REFERENCE_H
#define TAMBA_TESTS_PIXEL_REFERENCE_H

#include <glib.h>

#include <memory>

#include <tamba/tamba.h>

namespace tamba::test {

// A field of prec bits widened to 8 by repeating its bits downward (top 8 bits above 8).
inline guchar widen (guint32 field, int prec)
{
    if (prec <= 0) return 0;
    if (prec >= 8) return guchar (field >> (prec - 8));
    guint32 v = 0;
    int bits = 0;
    for (; bits < 8; bits += prec) v = (v << prec) | field;
    return guchar (v >> (bits - 8));
}

struct ImageDeleter {
    void operator() (Tamba *t) const { tamba_unref (t); }
};
// An image reference that is dropped at the end of its scope.
using Image = std::unique_ptr<Tamba, ImageDeleter>;

}  // namespace tamba::test

#endif
