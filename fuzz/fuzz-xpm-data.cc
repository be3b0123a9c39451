// SPDX-License-Identifier: LGPL-2.1-or-later
// tamba_new_from_xpm_data on the input's lines, each its own string, as a program's compiled-in
// XPM array holds them; the array ends with NULL.
#include <string>
#include <vector>

#include "fuzz-input.h"
#include "tamba/tamba.h"

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t *data, size_t size)
{
    // Each line in a string of its own size, so reading past one is caught.
    std::vector<std::string> lines (1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\n') lines.emplace_back ();
        else lines.back ().push_back (char (data[i]));
    }
    std::vector<const char *> array;
    for (const auto &l : lines) array.push_back (l.c_str ());
    array.push_back (nullptr);
    if (Tamba *image = tamba_new_from_xpm_data (array.data ())) {
        if (image->width <= 0 || image->height <= 0 || !image->pixels)
            tamba::fuzz::fail ("XPM data gave an image without pixels");
        tamba_unref (image);
    }
    return 0;
}
