// SPDX-License-Identifier: LGPL-2.1-or-later
// What the format tests share: decoding bytes every way at once, and data a module must refuse.
#ifndef TAMBA_TESTS_LOADERS_FORMAT_TEST_H
#define TAMBA_TESTS_LOADERS_FORMAT_TEST_H

#include <gtest/gtest.h>

#include <string>

#include "image-writers.h"
#include "log-capture.h"
#include "modules.h"

namespace tamba::test {

// Loads the bytes whole-file and in every piece size; records a failure when a progressive load
// breaks the protocol or, where the whole-file load succeeded, fails or gives other pixels.
ImagePtr decode_all_ways (const std::string &format, const Bytes &bytes);

// Pixel (x, y) as R, G, B, A (255 for an image without alpha).
std::vector<int> rgba_at (const Tamba *image, int x, int y);

// Data a module must refuse, and the reason its warning must give. Each format's file
// instantiates Refused with its own table (test-formats.cc holds the test).
struct Refusal {
    const char *name;
    std::string format;
    Bytes bytes;
    const char *reason;
};
class Refused : public ::testing::TestWithParam<Refusal> {};
inline std::string refusal_name (const ::testing::TestParamInfo<Refusal> &info)
{
    return info.param.name;
}
inline Bytes bytes_of (const std::string &s) { return Bytes (s.begin (), s.end ()); }

}  // namespace tamba::test

#endif
