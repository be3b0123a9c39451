// SPDX-License-Identifier: LGPL-2.1-or-later
// Reference decodes in the forms the corpus keeps them: PAM, PNG or a listed pixel hash.
#include "corpus.h"

#include <glib.h>
#include <png.h>

#include <fstream>
#include <map>
#include <sstream>

namespace tamba::test {

namespace {

struct Hashed {
    int width = 0, height = 0, depth = 0;
    std::string sha256;
};

// reference-hashes.tsv of the corpus folder, keyed by the reference's absolute path.
const std::map<std::string, Hashed> &listed_hashes ()
{
    static const std::map<std::string, Hashed> hashes = [] {
        std::map<std::string, Hashed> out;
        const std::string dir = corpus_dir ();
        if (dir.empty ()) return out;
        std::ifstream in (dir + "/reference-hashes.tsv");
        std::string line;
        std::getline (in, line);  // header
        while (std::getline (in, line)) {
            std::istringstream cols (line);
            std::string path;
            Hashed h;
            if (std::getline (cols, path, '\t') && cols >> h.width >> h.height >> h.depth >> h.sha256)
                out[dir + "/" + path] = h;
        }
        return out;
    }();
    return hashes;
}

std::optional<Pam> read_png (const std::string &path)
{
    png_image png {};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file (&png, path.c_str ())) return std::nullopt;
    const bool alpha = (png.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    png.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    Pam pam {int (png.width), int (png.height), alpha ? 4 : 3, {}};
    pam.samples.resize (PNG_IMAGE_SIZE (png));
    if (!png_image_finish_read (&png, nullptr, pam.samples.data (), 0, nullptr)) {
        png_image_free (&png);
        return std::nullopt;
    }
    return pam;
}

std::string size_difference (const Tamba *image, int width, int height)
{
    std::ostringstream os;
    os << "size " << image->width << "x" << image->height << ", reference " << width << "x"
       << height;
    return os.str ();
}

}  // namespace

std::string pixel_hash (const Pam &pam)
{
    GChecksum *sum = g_checksum_new (G_CHECKSUM_SHA256);
    const std::string header = std::to_string (pam.width) + " " + std::to_string (pam.height) + " "
                               + std::to_string (pam.depth) + "\n";
    g_checksum_update (sum, reinterpret_cast<const guchar *> (header.data ()), gssize (header.size ()));
    std::vector<std::uint8_t> samples = pam.samples;
    if (pam.depth == 4)
        for (size_t i = 0; i + 3 < samples.size (); i += 4)
            if (samples[i + 3] == 0) samples[i] = samples[i + 1] = samples[i + 2] = 0;
    g_checksum_update (sum, samples.data (), gssize (samples.size ()));
    std::string hex = g_checksum_get_string (sum);
    g_checksum_free (sum);
    return hex;
}

std::optional<Reference> read_reference (const std::string &ref_path)
{
    if (ref_path.empty ()) return std::nullopt;
    const auto &hashes = listed_hashes ();
    const auto listed = hashes.find (ref_path);
    Reference ref;
    const std::string png = ref_path.ends_with (".pam")
                                ? ref_path.substr (0, ref_path.size () - 4) + ".png" : "";
    if (std::ifstream (ref_path)) {
        ref.pixels = read_pam (ref_path);
    } else if (!png.empty () && std::ifstream (png)) {
        ref.pixels = read_png (png);
        // The PNG stands in for the PAM, so it must give back exactly the hashed samples.
        if (ref.pixels && listed != hashes.end () && pixel_hash (*ref.pixels) != listed->second.sha256)
            return std::nullopt;
    } else if (listed != hashes.end ()) {
        ref.width = listed->second.width;
        ref.height = listed->second.height;
        ref.depth = listed->second.depth;
        ref.sha256 = listed->second.sha256;
        return ref;
    }
    if (!ref.pixels) return std::nullopt;
    ref.width = ref.pixels->width;
    ref.height = ref.pixels->height;
    ref.depth = ref.pixels->depth;
    return ref;
}

std::string compare_with_ref (const Tamba *image, const Reference &ref, int tolerance, int *max_diff)
{
    if (ref.pixels) return compare_with_ref (image, *ref.pixels, tolerance, max_diff);
    if (max_diff) *max_diff = 0;
    if (tolerance > 0) return "only the hash of the reference is known; a tolerance needs its pixels";
    if (!image) return "no image";
    if (image->width != ref.width || image->height != ref.height)
        return size_difference (image, ref.width, ref.height);
    if (ref.depth == 4 && !image->has_alpha) return "reference has alpha, image has none";
    Pam got {ref.width, ref.height, ref.depth, {}};
    got.samples.reserve (size_t (ref.width) * size_t (ref.height) * size_t (ref.depth));
    for (int y = 0; y < ref.height; ++y) {
        const guchar *p = image->pixels + size_t (y) * size_t (image->rowstride);
        for (int x = 0; x < ref.width; ++x, p += image->n_channels) {
            const int alpha = image->n_channels == 4 ? p[3] : 255;
            if (ref.depth == 3 && alpha != 255)
                return "pixel (" + std::to_string (x) + "," + std::to_string (y) + ") has alpha "
                       + std::to_string (alpha) + ", the reference is opaque";
            got.samples.insert (got.samples.end (), p, p + 3);
            if (ref.depth == 4) got.samples.push_back (guchar (alpha));
        }
    }
    const std::string hash = pixel_hash (got);
    return hash == ref.sha256 ? "" : "pixels differ from the reference (SHA-256 " + hash
                                         + ", reference " + ref.sha256 + ")";
}

}  // namespace tamba::test
