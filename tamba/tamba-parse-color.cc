// SPDX-License-Identifier: LGPL-2.1-or-later
// Colour specifications: "#" followed by hexadecimal digits, or an X11 colour name looked up in
// the colour database file or, when that file is missing, in the built-in copy.
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tamba-hooks.h"
#include "tamba-private.h"

#ifndef TAMBA_RGB_TXT_PATH
#define TAMBA_RGB_TXT_PATH "/usr/X11R6/lib/X11/rgb.txt"
#endif

namespace {

// Built on the first name lookup and kept for the life of the process.
GHashTable *named_colors = nullptr;
bool named_colors_from_file = false;  // keys and values were allocated, not the built-in table
gchar *rgb_txt_override = nullptr;    // set by the test hook only

gchar *string_downcase (const gchar *in)
{
    gchar *out = g_strdup (in);
    for (gchar *p = out; *p; ++p) *p = gchar (std::tolower (static_cast<unsigned char> (*p)));
    return out;
}

// Reads a decimal integer as strtol does (leading space and a sign allowed) and moves past it.
gboolean next_int (const char **ptr, int *value)
{
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol (*ptr, &end, 10);
    if (end == *ptr || errno == ERANGE || v < INT_MIN || v > INT_MAX) return FALSE;
    *ptr = end;
    *value = int (v);
    return TRUE;
}

guint32 read_hex_digits (const char *ptr, int chars)
{
    char buf[16];
    TAMBA_ASSERT (size_t (chars) + 1 < sizeof (buf), "chars + 1 < sizeof (buf)");
    std::memcpy (buf, ptr, size_t (chars));
    buf[chars] = '\0';
    return guint32 (std::strtol (buf, nullptr, 16));
}

// Digits as the POSIX locale classifies them, whatever the current locale says.
bool is_hex_digit (char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

void load_rgb_txt ()
{
    named_colors = g_hash_table_new (g_str_hash, g_str_equal);

    FILE *file = std::fopen (rgb_txt_override ? rgb_txt_override : TAMBA_RGB_TXT_PATH, "r");
    if (!file) {
        for (const TambaNamedColor *c = local_rgb_txt; c->name; ++c)
            g_hash_table_insert (named_colors, const_cast<char *> (c->name),
                                 const_cast<TambaRgbTriple *> (&c->rgb));
        return;
    }
    named_colors_from_file = true;

    // Lines longer than the buffer arrive in pieces; a piece without its newline is skipped.
    char line[256];
    while (std::fgets (line, sizeof line, file)) {
        if (line[0] == '!') continue;
        const char *p = line;
        int red, green, blue;
        if (!next_int (&p, &red) || !next_int (&p, &green) || !next_int (&p, &blue)) continue;
        p += std::strspn (p, " \t");
        char *newline = std::strchr (const_cast<char *> (p), '\n');
        if (!newline) continue;
        *newline = '\0';

        // v | v << 8 widens 0..255 to v * 257; larger values are kept, truncated to 16 bits.
        auto *rgb = static_cast<TambaRgbTriple *> (g_malloc (sizeof (TambaRgbTriple)));
        rgb->red = guint16 (unsigned (red) | unsigned (red) << 8);
        rgb->green = guint16 (unsigned (green) | unsigned (green) << 8);
        rgb->blue = guint16 (unsigned (blue) | unsigned (blue) << 8);

        gchar *name = string_downcase (p);
        // A repeated name keeps its first key and takes the later values.
        gpointer old_key = nullptr, old_value = nullptr;
        if (g_hash_table_lookup_extended (named_colors, name, &old_key, &old_value)) {
            g_hash_table_insert (named_colors, name, rgb);  // frees nothing: GLib keeps old_key
            g_free (name);
            g_free (old_value);
        } else {
            g_hash_table_insert (named_colors, name, rgb);
        }
    }
    std::fclose (file);
}

}  // namespace

namespace tamba::hooks {

void set_rgb_txt_path (const char *path)
{
    if (named_colors) {
        if (named_colors_from_file)
            g_hash_table_foreach (named_colors, [] (gpointer key, gpointer value, gpointer) {
                g_free (key);
                g_free (value);
            }, nullptr);
        g_hash_table_destroy (named_colors);
        named_colors = nullptr;
        named_colors_from_file = false;
    }
    g_free (rgb_txt_override);
    rgb_txt_override = g_strdup (path);
}

}  // namespace tamba::hooks

extern "C" gboolean tamba_parse_color (const char *spec, guint16 *red, guint16 *green,
                                       guint16 *blue)
{
    TAMBA_RETURN_VAL_IF_FAIL (spec != nullptr, "spec != NULL", FALSE);

    guint32 r, g, b;
    if (spec[0] == '#') {
        size_t count = 0;
        while (is_hex_digit (spec[1 + count])) count++;
        if (count != 3 && count != 6 && count != 9 && count != 12) return FALSE;
        const int n = int (count / 3);
        const int shift = 4 * (4 - n);
        r = read_hex_digits (spec + 1, n) << shift;
        g = read_hex_digits (spec + 1 + n, n) << shift;
        b = read_hex_digits (spec + 1 + 2 * n, n) << shift;
    } else {
        if (!named_colors) load_rgb_txt ();
        gchar *name = string_downcase (spec);
        const auto *rgb = static_cast<const TambaRgbTriple *> (g_hash_table_lookup (named_colors, name));
        g_free (name);
        if (!rgb) return FALSE;
        r = rgb->red;
        g = rgb->green;
        b = rgb->blue;
    }
    if (red) *red = guint16 (r);
    if (green) *green = guint16 (g);
    if (blue) *blue = guint16 (b);
    return TRUE;
}
