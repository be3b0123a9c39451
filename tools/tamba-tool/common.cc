// SPDX-License-Identifier: LGPL-2.1-or-later
// Option parsing, error lines, diagnosed loading and pixel helpers shared by the subcommands.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tool.h"

namespace tamba::tool {

namespace {

// How many leading bytes the library's format tests look at.
constexpr size_t kHeaderSize = 128;

std::vector<std::string> &log_buffer ()
{
    static std::vector<std::string> messages;
    return messages;
}

void collect_message (const gchar *, GLogLevelFlags, const gchar *message, gpointer)
{
    log_buffer ().emplace_back (message ? message : "");
}

struct FileCloser {
    void operator() (FILE *f) const noexcept { std::fclose (f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

}  // namespace

OptionContext make_context (const char *parameters, const char *summary,
                            const GOptionEntry *entries)
{
    OptionContext context (g_option_context_new (parameters));
    g_option_context_set_summary (context.get (), summary);
    if (entries) g_option_context_add_main_entries (context.get (), entries, nullptr);
    return context;
}

bool parse_options (GOptionContext *context, int *argc, char ***argv)
{
    GError *error = nullptr;
    if (g_option_context_parse (context, argc, argv, &error)) return true;
    usage_error (error->message);
    g_error_free (error);
    return false;
}

int usage_error (const char *message)
{
    std::fprintf (stderr, "%s: %s\nTry '%s --help' for more information.\n", g_get_prgname (),
                  message, g_get_prgname ());
    return kExitUsage;
}

void capture_log_messages ()
{
    g_log_set_default_handler (collect_message, nullptr);
}

std::string take_log_message ()
{
    std::string first;
    auto &messages = log_buffer ();
    if (!messages.empty ()) first = messages.front ();
    messages.clear ();
    // Some module messages end with a newline; an error line stays one line.
    while (!first.empty () && (first.back () == '\n' || first.back () == ' ')) first.pop_back ();
    for (char &c : first)
        if (c == '\n' || c == '\r') c = ' ';
    return first;
}

void report (const char *file, const std::string &reason)
{
    std::fprintf (stderr, "%s: %s\n", file, reason.c_str ());
}

TambaModule *probe_file (const char *filename, std::string *error)
{
    File f (std::fopen (filename, "rb"));
    if (!f) {
        *error = std::string ("cannot open: ") + std::strerror (errno);
        return nullptr;
    }
    guchar header[kHeaderSize];
    const size_t n = std::fread (header, 1, sizeof header, f.get ());
    if (std::ferror (f.get ())) {
        *error = std::string ("cannot open: ") + std::strerror (errno);
        return nullptr;
    }
    TambaModule *module = n > 0 ? tamba_get_module (header, guint (n)) : nullptr;
    if (!module) *error = "no loader recognises this file";
    return module;
}

std::string decode_failure ()
{
    std::string warning = take_log_message ();
    if (warning.empty ()) warning = "the loader gave no reason";
    return "cannot decode: " + warning;
}

Image load_image (const char *filename, std::string *error, std::string *format)
{
    TambaModule *module = probe_file (filename, error);
    if (!module) return nullptr;
    if (format) *format = module->module_name;
    take_log_message ();
    Image image (tamba_new_from_file (filename));
    if (!image) *error = decode_failure ();
    take_log_message ();
    return image;
}

Animation load_animation (const char *filename, std::string *error, TambaModule **module_out)
{
    TambaModule *module = probe_file (filename, error);
    if (!module) return nullptr;
    if (module_out) *module_out = module;
    take_log_message ();
    Animation animation (tamba_animation_new_from_file (filename));
    if (!animation || animation->n_frames < 1) {
        *error = decode_failure ();
        animation.reset ();
    }
    take_log_message ();
    return animation;
}

bool read_file (const char *filename, std::string *bytes, std::string *error)
{
    File f (std::fopen (filename, "rb"));
    bytes->clear ();
    char buffer[65536];
    size_t n = 0;
    while (f && (n = std::fread (buffer, 1, sizeof buffer, f.get ())) > 0) bytes->append (buffer, n);
    if (!f || std::ferror (f.get ())) {
        *error = std::string ("cannot open: ") + std::strerror (errno);
        return false;
    }
    return true;
}

const char *action_name (TambaFrameAction action)
{
    switch (action) {
    case TAMBA_FRAME_RETAIN: return "retain";
    case TAMBA_FRAME_DISPOSE: return "dispose";
    case TAMBA_FRAME_REVERT: return "revert";
    }
    return "unknown";
}

std::string pixel_sha256 (const Tamba *image)
{
    GChecksum *sum = g_checksum_new (G_CHECKSUM_SHA256);
    const size_t row = size_t (image->width) * size_t (image->n_channels);
    for (int y = 0; y < image->height; y++)
        g_checksum_update (sum, image->pixels + size_t (y) * size_t (image->rowstride), row);
    std::string hex = g_checksum_get_string (sum);
    g_checksum_free (sum);
    return hex;
}

}  // namespace tamba::tool
