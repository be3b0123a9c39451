// SPDX-License-Identifier: LGPL-2.1-or-later
// color and formats: colour specifications, and the format table with its modules.
#include <cstdio>
#include <cstring>
#include <string>

#include "tool.h"

namespace tamba::tool {

namespace {

// The library's formats in the order its table tries them, each with the shortest bytes its
// signature test accepts. The table itself is not exported, so the record is found the way a
// file finds it: through tamba_get_module.
struct KnownFormat {
    const char *name;
    const char *signature;
    size_t length;
};

constexpr KnownFormat kFormats[] = {
    {"png", "\x89PNG\r\n\x1a\n", 8}, {"jpeg", "\xff\xd8", 2},
    {"tiff", "MM\x00\x2a", 4},       {"gif", "GIF89a", 6},
    {"xpm", "/* XPM */", 9},         {"pnm", "P6", 2},
    {"ras", "\x59\xa6\x6a\x95", 4},  {"ico", "\x00\x00\x01\x00\x01\x00", 6},
    {"bmp", "BM", 2},                {"xbm", "#define ", 8},
};

}  // namespace

int run_color (int argc, char **argv)
{
    OptionContext context = make_context (
        "SPEC...", "Print each colour specification (#rgb, #rrggbb, #rrrgggbbb, #rrrrggggbbbb or "
        "an X11 colour name) as SPEC R G B with 16-bit channels.", nullptr);
    if (!parse_options (context.get (), &argc, &argv)) return kExitUsage;
    if (argc < 2) return usage_error ("no colour given");

    int status = kExitOk;
    for (int i = 1; i < argc; i++) {
        guint16 r = 0, g = 0, b = 0;
        if (tamba_parse_color (argv[i], &r, &g, &b)) {
            std::printf ("%s %u %u %u\n", argv[i], r, g, b);
        } else {
            report (argv[i], "not a colour specification or known colour name");
            status = kExitFailed;
        }
        take_log_message ();
    }
    return status;
}

int run_formats (int argc, char **argv)
{
    OptionContext context = make_context (
        "", "List the formats in the order files are tested against them, the module file each "
        "uses, whether it opens and whether it can save.", nullptr);
    if (!parse_options (context.get (), &argc, &argv)) return kExitUsage;
    if (argc > 1) return usage_error ("formats takes no arguments");

    std::printf ("%-5s %-5s %-5s %s\n", "name", "opens", "saves", "module");
    for (const KnownFormat &f : kFormats) {
        guchar header[128] = {};
        std::memcpy (header, f.signature, f.length);
        TambaModule *record = tamba_get_module (header, sizeof header);
        if (!record || std::strcmp (record->module_name, f.name) != 0) {
            std::printf ("%-5s %-5s %-5s %s\n", f.name, "-", "-", "(not in this library)");
            continue;
        }
        if (!record->module) tamba_load_module (record);
        take_log_message ();
        // An open module names the file it came from; otherwise the name the search used.
        gchar *built = nullptr;
        const gchar *file = record->module ? g_module_name (record->module) : nullptr;
        if (!file) {
            gchar *base = g_strconcat ("tambaloader-", f.name, nullptr);
            built = g_module_build_path (nullptr, base);
            g_free (base);
            file = built;
        }
        std::printf ("%-5s %-5s %-5s %s\n", f.name, record->module ? "yes" : "no",
                     record->module && record->save ? "yes" : "no", file);
        g_free (built);
    }
    return kExitOk;
}

}  // namespace tamba::tool
