// SPDX-License-Identifier: LGPL-2.1-or-later
#include "module-paths.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace tamba::test {

const Module &gif_module ()
{
    static const Module m (GIF_MODULE, "gif");
    return m;
}

const Module &xpm_module ()
{
    static const Module m (XPM_MODULE, "xpm");
    return m;
}

const Module &xbm_module ()
{
    static const Module m (XBM_MODULE, "xbm");
    return m;
}

std::string write_temp_file (const std::string &name, const std::vector<std::uint8_t> &bytes)
{
    const char *dir = std::getenv ("TMPDIR");
    const std::string path = std::string (dir && *dir ? dir : "/tmp") + "/tamba-gxx-"
                             + std::to_string (getpid ()) + "-" + name;
    std::ofstream out (path, std::ios::binary);
    out.write (reinterpret_cast<const char *> (bytes.data ()), std::streamsize (bytes.size ()));
    return path;
}

Tamba *load_bytes (const Module &module, const std::vector<std::uint8_t> &bytes)
{
    const std::string path = write_temp_file ("load", bytes);
    Tamba *image = module.load_file (path);
    std::remove (path.c_str ());
    return image;
}

TambaAnimation *load_animation_bytes (const Module &module, const std::vector<std::uint8_t> &bytes)
{
    const std::string path = write_temp_file ("animation", bytes);
    TambaAnimation *animation = module.load_animation_file (path);
    std::remove (path.c_str ());
    return animation;
}

Rgba rgba_at (const Tamba *image, int x, int y)
{
    const guchar *p = image->pixels + size_t (y) * size_t (image->rowstride) + size_t (x) * size_t (image->n_channels);
    return {p[0], p[1], p[2], image->has_alpha ? p[3] : 255};
}

std::vector<std::string> xpm_strings (const std::vector<std::uint8_t> &file)
{
    std::vector<std::string> out;
    bool in_comment = false;
    for (size_t i = 0; i < file.size (); ++i) {
        const char c = char (file[i]);
        const char next = i + 1 < file.size () ? char (file[i + 1]) : '\0';
        if (in_comment) {
            if (c == '*' && next == '/') {
                in_comment = false;
                ++i;
            }
        } else if (c == '/' && next == '*') {
            in_comment = true;
            ++i;
        } else if (c == '"') {
            size_t j = i + 1;
            while (j < file.size () && file[j] != '"') ++j;
            out.emplace_back (file.begin () + long (i + 1), file.begin () + long (j));
            i = j;
        }
    }
    return out;
}

}  // namespace tamba::test
