// SPDX-License-Identifier: LGPL-2.1-or-later
// Checked image allocation: the size check against the format's limits and the allocation,
// each failing with one warning and NULL (or false), never an exception.
#ifndef TAMBA_LOADERS_COMMON_IMAGE_ALLOC_H
#define TAMBA_LOADERS_COMMON_IMAGE_ALLOC_H

#include <cstdint>
#include <cstring>

#include "messages.h"
#include "tamba/tamba.h"

namespace tamba::loader {

// True when width x height lies within the format's limits; warns otherwise.
inline bool check_size (const Format &format, std::int64_t width, std::int64_t height)
{
    if (within_limits (format, width, height)) return true;
    warn (format,
          "image size %" G_GINT64_FORMAT "x%" G_GINT64_FORMAT " is outside the supported range"
          " (1 to %" G_GINT64_FORMAT " per side, at most %" G_GINT64_FORMAT " pixels)",
          width, height, format.max_side, format.max_pixels);
    return false;
}

// How a new image's bytes start: as malloc left them, or every byte set to a value.
inline constexpr int kNoFill = -1;

// An 8-bit RGB(A) image after check_size, every byte set to `fill` unless it is kNoFill; NULL
// with one warning when the size is refused or memory runs out.
inline Tamba *new_image (const Format &format, bool has_alpha, std::int64_t width,
                         std::int64_t height, int fill = 0)
{
    if (!check_size (format, width, height)) return nullptr;
    Tamba *image = tamba_new (GDK_COLORSPACE_RGB, has_alpha, 8, int (width), int (height));
    if (!image) {
        warn (format, "not enough memory for a %dx%d image", int (width), int (height));
        return nullptr;
    }
    if (fill != kNoFill)
        std::memset (image->pixels, fill, size_t (image->rowstride) * size_t (image->height));
    return image;
}

}  // namespace tamba::loader

#endif  // TAMBA_LOADERS_COMMON_IMAGE_ALLOC_H
