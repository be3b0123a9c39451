// SPDX-License-Identifier: LGPL-2.1-or-later
// Helpers for the feature tests of the BMP, ICO, Sun raster and PNM modules: opening them, a
// decode that runs whole-file and in pieces and checks both agree, expected pixels, and small
// little/big-endian byte writers for building test files.
#ifndef TAMBA_TESTS_OWN_LOADERS_TEST_H
#define TAMBA_TESTS_OWN_LOADERS_TEST_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "corpus.h"
#include "log-capture.h"

namespace tamba::test {

using Bytes = std::vector<std::uint8_t>;

const Module &own_module (const std::string &format);

struct ImageUnref {
    void operator() (Tamba *t) const { tamba_unref (t); }
};
using ImagePtr = std::unique_ptr<Tamba, ImageUnref>;

// Loads the bytes whole-file (through a temporary file) and progressively in pieces of 1, 13,
// 787, 4096 and all bytes. Records a failure when the pieces disagree with the whole-file
// result; returns the whole-file image (null when the module refused the data).
ImagePtr decode_all_ways (const std::string &format, const Bytes &bytes);

// Expected pixels, RGBA, rows packed.
struct Pixels {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgba;
    Pixels (int w, int h) : width (w), height (h), rgba (size_t (w) * size_t (h) * 4, 255) {}
    void set (int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a = 255)
    {
        std::uint8_t *p = &rgba[(size_t (y) * size_t (width) + size_t (x)) * 4];
        p[0] = r; p[1] = g; p[2] = b; p[3] = a;
    }
};

// "" when the image holds exactly these pixels (an RGB image counts as alpha 255); compares
// colour also where alpha is 0.
std::string diff_pixels (const Tamba *image, const Pixels &expected);

// The warnings captured so far, one per line, and whether one of them is exactly text.
std::string warnings_text (const LogCapture &log);
bool has_warning (const LogCapture &log, const std::string &text);

// Appends integers in little- or big-endian order.
void put_le (Bytes &b, std::uint32_t v, int n);
void put_be (Bytes &b, std::uint32_t v, int n);
inline void put_text (Bytes &b, const std::string &s) { b.insert (b.end (), s.begin (), s.end ()); }

// Data a module must refuse, and the warning it must give. Instantiated per format; the test
// itself is in test-own-ras-pnm.cc.
struct RefusedFile {
    const char *name;
    const char *format;
    Bytes bytes;
    const char *warning;
};
class Refused : public ::testing::TestWithParam<RefusedFile> {};
inline std::string refused_name (const ::testing::TestParamInfo<RefusedFile> &info)
{
    return info.param.name;
}

}  // namespace tamba::test

#endif  // TAMBA_TESTS_OWN_LOADERS_TEST_H
