// SPDX-License-Identifier: LGPL-2.1-or-later
// Helpers for the feature tests of the png, jpeg and tiff modules: loading bytes whole-file
// through a temporary file, and checking that every piece size gives the same pixels.
#ifndef TAMBA_TESTS_PNG_JPEG_TIFF_FEATURE_SUPPORT_H
#define TAMBA_TESTS_PNG_JPEG_TIFF_FEATURE_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "corpus.h"

namespace tamba::test {

using Bytes = std::vector<std::uint8_t>;

// Loads bytes through the module's whole-file entry; *warnings receives what it logged.
Tamba *load_bytes (const Module &module, const Bytes &bytes, std::vector<std::string> *warnings = nullptr);

// Loads the bytes whole-file and in pieces of 1, 13, 787, 4096 bytes and all at once; every
// progressive load must succeed and give the whole-file pixels. Returns the whole-file image.
Tamba *load_everywhere (const Module &module, const Bytes &bytes);

// A file the module must refuse, and a piece of the one warning it must give.
struct ExpectedFailure {
    const char *name;
    Bytes bytes;
    const char *warning_part;
};

// Whole-file loading gives NULL and exactly one one-line warning containing warning_part.
void expect_whole_file_failure (const Module &module, const ExpectedFailure &failure);

// What a hand-driven progressive load reported.
struct Observed {
    int prepared = 0;
    int updates = 0;
    guint last_width = 0, last_height = 0;
};

// Starts a progressive load whose callbacks count into observed (no image reference is kept).
gpointer begin_observed (const Module &module, Observed &observed);

// Every pixel of image equals expected (RGBA, rows packed), and the size is width x height.
void expect_pixels (const Tamba *image, const std::vector<std::vector<int>> &expected, int width,
                    int height);

// The pixel at (x, y) as R, G, B, A (A 255 for images without alpha).
std::vector<int> pixel_at (const Tamba *image, int x, int y);

}  // namespace tamba::test

#endif
