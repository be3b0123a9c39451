// SPDX-License-Identifier: LGPL-2.1-or-later
#include "own-loaders-test.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>

namespace tamba::test {

const Module &own_module (const std::string &format)
{
    static std::map<std::string, std::unique_ptr<Module>> modules;
    auto &m = modules[format];
    if (!m) {
        const char *path = format == "bmp"   ? TAMBA_BMP_MODULE
                           : format == "ico" ? TAMBA_ICO_MODULE
                           : format == "ras" ? TAMBA_RAS_MODULE
                                             : TAMBA_PNM_MODULE;
        m = std::make_unique<Module> (path, format);
    }
    return *m;
}

ImagePtr decode_all_ways (const std::string &format, const Bytes &bytes)
{
    const Module &module = own_module (format);
    EXPECT_TRUE (module.ok ()) << format << " module did not open";
    if (!module.ok ()) return nullptr;

    FILE *f = std::tmpfile ();
    std::fwrite (bytes.data (), 1, bytes.size (), f);
    std::rewind (f);
    ImagePtr whole (module.entries ().load (f));
    std::fclose (f);

    for (size_t piece : {size_t (1), size_t (13), size_t (787), size_t (4096), bytes.size ()}) {
        if (piece == 0) continue;
        SCOPED_TRACE ("pieces of " + std::to_string (piece));
        const auto p = load_in_pieces (module, bytes, piece);
        EXPECT_EQ (p.protocol_error, "");
        EXPECT_TRUE (p.updates_in_bounds);
        if (whole) {
            EXPECT_TRUE (p.increments_ok);
            EXPECT_EQ (compare_images (whole.get (), p.image), "");
        }
    }
    return whole;
}

std::string diff_pixels (const Tamba *image, const Pixels &expected)
{
    if (!image) return "no image";
    if (image->width != expected.width || image->height != expected.height) {
        std::ostringstream os;
        os << "size " << image->width << "x" << image->height << ", expected " << expected.width
           << "x" << expected.height;
        return os.str ();
    }
    for (int y = 0; y < expected.height; ++y)
        for (int x = 0; x < expected.width; ++x) {
            const guchar *p = image->pixels + size_t (y) * size_t (image->rowstride)
                              + size_t (x) * size_t (image->n_channels);
            const std::uint8_t *q = &expected.rgba[(size_t (y) * size_t (expected.width) + size_t (x)) * 4];
            const int a = image->n_channels == 4 ? p[3] : 255;
            if (p[0] != q[0] || p[1] != q[1] || p[2] != q[2] || a != q[3]) {
                std::ostringstream os;
                os << "pixel (" << x << "," << y << ") is " << int (p[0]) << "," << int (p[1])
                   << "," << int (p[2]) << "," << a << ", expected " << int (q[0]) << ","
                   << int (q[1]) << "," << int (q[2]) << "," << int (q[3]);
                return os.str ();
            }
        }
    return "";
}

std::string warnings_text (const LogCapture &log)
{
    std::string all;
    for (const auto &w : log.warnings ()) all += w + "\n";
    return all;
}

bool has_warning (const LogCapture &log, const std::string &text)
{
    for (const auto &w : log.warnings ())
        if (w == text) return true;
    return false;
}

void put_le (Bytes &b, std::uint32_t v, int n)
{
    for (int i = 0; i < n; ++i) b.push_back (std::uint8_t (v >> (8 * i)));
}

void put_be (Bytes &b, std::uint32_t v, int n)
{
    for (int i = n - 1; i >= 0; --i) b.push_back (std::uint8_t (v >> (8 * i)));
}

}  // namespace tamba::test
