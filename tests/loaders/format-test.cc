// SPDX-License-Identifier: LGPL-2.1-or-later
#include "format-test.h"

namespace tamba::test {

ImagePtr decode_all_ways (const std::string &format, const Bytes &bytes)
{
    const Module &module = module_for (format);
    EXPECT_TRUE (module.ok ()) << format << " module did not open";
    if (!module.ok ()) return nullptr;
    ImagePtr whole (module.load_bytes (bytes));
    for (size_t piece : kPieceSizes) {
        SCOPED_TRACE ("pieces of " + std::to_string (piece));
        const auto p = load_in_pieces (module, bytes, piece);
        EXPECT_EQ (p.protocol_error, "");
        EXPECT_TRUE (p.updates_in_bounds);
        // An animation's whole-file image is composed on its screen; its frames come as they are.
        if (whole && !module.entries ().load_animation) {
            EXPECT_TRUE (p.increments_ok);
            EXPECT_EQ (compare_images (whole.get (), p.image), "");
        }
    }
    return whole;
}

std::vector<int> rgba_at (const Tamba *image, int x, int y)
{
    const guchar *p = image->pixels + size_t (y) * size_t (image->rowstride)
                      + size_t (x) * size_t (image->n_channels);
    return {p[0], p[1], p[2], image->has_alpha ? p[3] : 255};
}

}  // namespace tamba::test
