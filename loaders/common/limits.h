// SPDX-License-Identifier: LGPL-2.1-or-later
// The formats the modules decode, with the largest image each accepts. Every decoder checks a
// header's size against its row here (check_size in image-alloc.h) before it allocates.
//
// Each limit is what that format has always accepted, so no file that loads is refused:
// the codec-library formats take up to 2^24 pixels on a side, the project's own decoders up to
// 65535 (the widest their headers usually carry); all stop at 2^28 pixels (1 GiB of RGBA).
// GIF frames also count against a stream total (kGifStreamPixels), so that a small file of
// many large frames cannot take unbounded memory; each frame counts kGifFramePixels more for
// its record (image, frame and list entry, about 220 bytes), so that neither can a large file
// of tiny ones: the frames of one stream hold at most 2 GiB in all.
#ifndef TAMBA_LOADERS_COMMON_LIMITS_H
#define TAMBA_LOADERS_COMMON_LIMITS_H

#include <cstdint>

namespace tamba::loader {

struct Format {
    const char *name;          // upper case, the prefix of every message
    std::int64_t max_side;     // per side
    std::int64_t max_pixels;   // width x height
};

inline constexpr std::int64_t kShortSide = 65535;
inline constexpr std::int64_t kLongSide = std::int64_t (1) << 24;
inline constexpr std::int64_t kMaxPixels = std::int64_t (1) << 28;
inline constexpr std::int64_t kGifStreamPixels = std::int64_t (1) << 29;
inline constexpr std::int64_t kGifFramePixels = 64;

// One row per module, named as the module is.
namespace formats {
inline constexpr Format png {"PNG", kLongSide, kMaxPixels};
inline constexpr Format jpeg {"JPEG", kLongSide, kMaxPixels};
inline constexpr Format tiff {"TIFF", kLongSide, kMaxPixels};
inline constexpr Format gif {"GIF", kShortSide, kMaxPixels};
inline constexpr Format xpm {"XPM", kShortSide, kMaxPixels};
inline constexpr Format pnm {"PNM", kShortSide, kMaxPixels};
inline constexpr Format ras {"RAS", kShortSide, kMaxPixels};
inline constexpr Format ico {"ICO", kShortSide, kMaxPixels};
inline constexpr Format bmp {"BMP", kShortSide, kMaxPixels};
inline constexpr Format xbm {"XBM", kShortSide, kMaxPixels};
}  // namespace formats

inline constexpr bool within_limits (const Format &format, std::int64_t width,
                                     std::int64_t height) noexcept
{
    return width >= 1 && height >= 1 && width <= format.max_side && height <= format.max_side
           && width * height <= format.max_pixels;
}

}  // namespace tamba::loader

#endif  // TAMBA_LOADERS_COMMON_LIMITS_H
