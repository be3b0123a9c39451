// SPDX-License-Identifier: LGPL-2.1-or-later
// Loading at a size: the payload, written to a file, goes through tamba_new_from_file_at_size
// with a box of 1..256 a side and the keep-the-ratio flag from the input's last 3 bytes. A
// result must have the box's size, or with the ratio kept fit the box and touch it on one side;
// and a file that does not load at its own size may not load at another (a module's reduced
// decode refuses what its full decode refuses). Modules are found through the library search
// path.
#include <cstdio>
#include <string>

#include "fuzz-input.h"
#include "tamba/tamba.h"

namespace {

constexpr size_t kOptionBytes = 3;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t *data, size_t size)
{
    const tamba::fuzz::FuzzInput input (data, size, kOptionBytes);
    const int width = 1 + input.option (0), height = 1 + input.option (1);
    const bool keep_ratio = input.option (2) & 1;
    const std::string file = tamba::fuzz::scratch_file ("at-size");
    const char *path = file.c_str ();
    FILE *f = std::fopen (path, "wb");
    if (!f) tamba::fuzz::fail ("cannot write the scratch file");
    const auto &payload = input.payload ();
    const bool written = std::fwrite (payload.data (), 1, payload.size (), f) == payload.size ();
    if (std::fclose (f) != 0 || !written) tamba::fuzz::fail ("cannot write the scratch file");

    Tamba *image = tamba_new_from_file_at_size (path, width, height, keep_ratio);
    if (!image) return 0;
    if (!image->pixels) tamba::fuzz::fail ("an image without pixels");
    if (keep_ratio ? image->width < 1 || image->height < 1 || image->width > width
                          || image->height > height
                          || (image->width != width && image->height != height)
                    : image->width != width || image->height != height)
        tamba::fuzz::fail ("the image does not have the size asked for");
    Tamba *whole = tamba_new_from_file (path);
    if (!whole) tamba::fuzz::fail ("a file loads at a size but not whole");
    tamba_unref (whole);
    tamba_unref (image);
    return 0;
}
