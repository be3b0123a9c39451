// SPDX-License-Identifier: LGPL-2.1-or-later
#include "corpus.h"

#include <glib.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "image-writers.h"
#include "modules.h"

namespace tamba::test {

std::string corpus_dir ()
{
    const char *env = std::getenv ("TAMBA_CORPUS_DIR");
    const std::string dir = env && *env ? env : TAMBA_DEFAULT_CORPUS_DIR;
    return !dir.empty () && std::ifstream (dir + "/index.tsv") ? dir : "";
}

namespace {

// The tab-separated rows of a corpus file after its header line.
std::vector<std::vector<std::string>> rows_of (const std::string &name)
{
    std::vector<std::vector<std::string>> rows;
    std::ifstream in (corpus_dir ().empty () ? "" : corpus_dir () + "/" + name);
    std::string line, col;
    std::getline (in, line);
    while (std::getline (in, line)) {
        std::stringstream ss (line);
        rows.emplace_back ();
        while (std::getline (ss, col, '\t')) rows.back ().push_back (col);
    }
    return rows;
}

// reference-hashes.tsv, keyed by the reference's absolute path.
const std::map<std::string, Reference> &listed_hashes ()
{
    static const std::map<std::string, Reference> hashes = [] {
        std::map<std::string, Reference> out;
        for (const auto &r : rows_of ("reference-hashes.tsv"))
            if (r.size () >= 5)
                out[corpus_dir () + "/" + r[0]] = {std::atoi (r[1].c_str ()), std::atoi (r[2].c_str ()),
                                                   std::atoi (r[3].c_str ()), {}, r[4]};
        return out;
    }();
    return hashes;
}

std::optional<Reference> read_pam (const std::string &path)
{
    const Bytes bytes = read_file (path);
    const std::string text (bytes.begin (), bytes.end ());
    const size_t end = text.find ("ENDHDR\n");
    if (text.compare (0, 3, "P7\n") != 0 || end == std::string::npos) return std::nullopt;
    Reference pam;
    int maxval = 0;
    std::stringstream header (text.substr (3, end - 3));
    for (std::string key; header >> key;) {
        if (key == "WIDTH") header >> pam.width;
        else if (key == "HEIGHT") header >> pam.height;
        else if (key == "DEPTH") header >> pam.depth;
        else if (key == "MAXVAL") header >> maxval;
    }
    const size_t n = size_t (pam.width) * size_t (pam.height) * size_t (pam.depth), start = end + 7;
    if (maxval != 255 || (pam.depth != 3 && pam.depth != 4) || bytes.size () < start + n)
        return std::nullopt;
    pam.samples.assign (bytes.begin () + long (start), bytes.begin () + long (start + n));
    return pam;
}

std::optional<Reference> read_png (const std::string &path)
{
    png_image png {};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file (&png, path.c_str ())) return std::nullopt;
    const bool alpha = (png.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    png.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    Reference ref {int (png.width), int (png.height), alpha ? 4 : 3, {}, ""};
    ref.samples.resize (PNG_IMAGE_SIZE (png));
    if (!png_image_finish_read (&png, nullptr, ref.samples.data (), 0, nullptr)) return std::nullopt;
    return ref;
}

// SHA-256 (hex) of "W H D\n" and the samples with colour set to 0 where alpha is 0, so that two
// decodes compare_with_ref accepts at tolerance 0 hash alike.
std::string pixel_hash (const Reference &pam)
{
    std::string data = std::to_string (pam.width) + " " + std::to_string (pam.height) + " " + std::to_string (pam.depth) + "\n";
    const size_t start = data.size ();
    data.append (pam.samples.begin (), pam.samples.end ());
    for (size_t i = start; pam.depth == 4 && i + 3 < data.size (); i += 4)
        if (data[i + 3] == 0) data[i] = data[i + 1] = data[i + 2] = 0;
    gchar *hex = g_compute_checksum_for_data (G_CHECKSUM_SHA256, reinterpret_cast<const guchar *> (data.data ()), data.size ());
    const std::string out = hex;
    g_free (hex);
    return out;
}

}  // namespace

std::vector<CorpusEntry> corpus_entries ()
{
    std::vector<CorpusEntry> out;
    const std::string dir = corpus_dir ();
    for (const auto &r : rows_of ("index.tsv"))
        if (r.size () >= 4)
            out.push_back ({dir + "/" + r[0], r[0], r[1], r[2], r[3] == "-" ? "" : dir + "/" + r[3],
                            r.size () > 4 ? r[4] : ""});
    return out;
}

Bytes corpus_file (const std::string &rel) { return read_file (corpus_dir () + "/" + rel); }

std::optional<Reference> read_reference (const std::string &ref_path)
{
    if (ref_path.empty ()) return std::nullopt;
    if (std::ifstream (ref_path)) return read_pam (ref_path);
    const auto listed = listed_hashes ().find (ref_path);
    const bool is_listed = listed != listed_hashes ().end ();
    const std::string png = ref_path.ends_with (".pam") ? ref_path.substr (0, ref_path.size () - 4) + ".png" : "";
    if (!png.empty () && std::ifstream (png)) {
        // The PNG stands in for the PAM, so it must give back exactly the hashed samples.
        auto ref = read_png (png);
        if (ref && is_listed && pixel_hash (*ref) != listed->second.sha256) return std::nullopt;
        return ref;
    }
    return is_listed ? std::optional (listed->second) : std::nullopt;
}

std::string compare_with_ref (const Tamba *image, const Reference &ref, int tolerance)
{
    if (!image) return "no image";
    if (image->width != ref.width || image->height != ref.height)
        return "size " + std::to_string (image->width) + "x" + std::to_string (image->height)
               + ", reference " + std::to_string (ref.width) + "x" + std::to_string (ref.height);
    if (ref.depth == 4 && !image->has_alpha) return "reference has alpha, image has none";
    if (!ref.has_pixels () && tolerance > 0)
        return "only the hash of the reference is known; a tolerance needs its pixels";
    // The image in the reference's layout, then compared sample by sample or through the hash.
    Reference got {ref.width, ref.height, ref.depth, {}, ""};
    const auto at = [&] (size_t i) {
        return "pixel (" + std::to_string (i % size_t (ref.width)) + "," + std::to_string (i / size_t (ref.width)) + ")";
    };
    for (int y = 0; y < ref.height; ++y)
        for (int x = 0; x < ref.width; ++x) {
            const guchar *p = image->pixels + size_t (y) * size_t (image->rowstride)
                              + size_t (x) * size_t (image->n_channels);
            const guchar alpha = image->n_channels == 4 ? p[3] : 255;
            if (ref.depth == 3 && alpha != 255)
                return at (size_t (y * ref.width + x)) + " has alpha " + std::to_string (alpha) + ", the reference is opaque";
            got.samples.insert (got.samples.end (), p, p + 3);
            if (ref.depth == 4) got.samples.push_back (alpha);
        }
    if (!ref.has_pixels ()) {
        const std::string hash = pixel_hash (got);
        return hash == ref.sha256 ? "" : "pixels differ from the reference (SHA-256 " + hash + ")";
    }
    const size_t depth = size_t (ref.depth);
    for (size_t i = 0; i < got.samples.size (); ++i) {
        const size_t alpha = i - i % depth + 3;  // where both sides are transparent, colour does not count
        if (i % depth < 3 && depth == 4 && got.samples[alpha] == 0 && ref.samples[alpha] == 0) continue;
        if (std::abs (got.samples[i] - ref.samples[i]) > tolerance)
            return at (i / depth) + " sample " + std::to_string (i % depth) + " is "
                   + std::to_string (got.samples[i]) + ", reference " + std::to_string (ref.samples[i]);
    }
    return "";
}

Bytes png_of_size (std::uint32_t width, std::uint32_t height)
{
    Bytes b = corpus_file (kStoredPngFile), fields;
    put_be (fields, width, 4);
    put_be (fields, height, 4);
    std::copy (fields.begin (), fields.end (), b.begin () + 16);
    put_be (fields, std::uint32_t (crc32 (0, b.data () + 12, 17)), 4);  // of the chunk type and data
    std::copy (fields.begin () + 8, fields.end (), b.begin () + 29);
    return b;
}

}  // namespace tamba::test
