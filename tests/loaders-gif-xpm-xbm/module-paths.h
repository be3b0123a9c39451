// SPDX-License-Identifier: LGPL-2.1-or-later
// The three modules under test and what the GIF, XPM and XBM tests share.
#ifndef TAMBA_TESTS_GIF_XPM_XBM_MODULE_PATHS_H
#define TAMBA_TESTS_GIF_XPM_XBM_MODULE_PATHS_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "corpus.h"

namespace tamba::test {

// Opened once per process; modules stay open, as the library keeps them.
const Module &gif_module ();
const Module &xpm_module ();
const Module &xbm_module ();

// The piece sizes every progressive test uses; 0 stands for the whole data in one piece.
inline const std::vector<size_t> kPieceSizes = {1, 13, 787, 4096, 0};

// Writes bytes to a fresh file under the test's temporary folder and returns its path.
std::string write_temp_file (const std::string &name, const std::vector<std::uint8_t> &bytes);

// Loads bytes through the module's whole-file entry.
Tamba *load_bytes (const Module &module, const std::vector<std::uint8_t> &bytes);
TambaAnimation *load_animation_bytes (const Module &module, const std::vector<std::uint8_t> &bytes);

// Pixel (x, y) as red, green, blue, alpha (255 for an image without alpha).
using Rgba = std::array<int, 4>;
Rgba rgba_at (const Tamba *image, int x, int y);

// The quoted strings of an XPM file, in order, as load_xpm_data takes them.
std::vector<std::string> xpm_strings (const std::vector<std::uint8_t> &file);

}  // namespace tamba::test

#endif
