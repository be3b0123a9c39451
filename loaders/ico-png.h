// SPDX-License-Identifier: LGPL-2.1-or-later
// PNG-compressed icon entries, decoded with libpng.
#ifndef TAMBA_LOADERS_ICO_PNG_H
#define TAMBA_LOADERS_ICO_PNG_H

#include <glib.h>

#include <cstddef>
#include <vector>

namespace tamba::detail {

inline constexpr unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0d, 0x0a, 0x1a, 0x0a};

// Decodes the PNG in [data, data + size) to packed 8-bit RGBA. Refuses images outside the
// decoders' dimension limits before allocating. False (with a warning) on any error.
bool decode_png_rgba (const guchar *data, size_t size, int &width, int &height,
                      std::vector<guchar> &rgba);

}  // namespace tamba::detail

#endif  // TAMBA_LOADERS_ICO_PNG_H
