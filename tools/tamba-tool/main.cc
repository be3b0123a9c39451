// SPDX-License-Identifier: LGPL-2.1-or-later
// tamba-tool: one program, one subcommand per job. The subcommand's name picks its parser;
// options before it (--help, --version) belong to the program as a whole.
#include <clocale>
#include <cstdio>
#include <cstring>

#include "tool.h"

namespace {

using namespace tamba::tool;

struct Command {
    const char *name;
    int (*run) (int argc, char **argv);
    const char *summary;
};

constexpr Command kCommands[] = {
    {"info", run_info, "format, size, channels and frames of images"},
    {"convert", run_convert, "scale, composite and write an image or its frames"},
    {"thumbnail", run_thumbnail, "write PNG thumbnails of many files"},
    {"progressive", run_progressive, "feed a file to the progressive loader, print its signals"},
    {"color", run_color, "parse colour specifications"},
    {"formats", run_formats, "list the known formats and their modules"},
    {"checksum", run_checksum, "size, alpha and SHA-256 of the decoded pixels"},
};

std::string command_list ()
{
    std::string text = "Commands:\n";
    for (const Command &c : kCommands) {
        char line[160];
        std::snprintf (line, sizeof line, "  %-12s %s\n", c.name, c.summary);
        text += line;
    }
    text += "\nRun 'tamba-tool COMMAND --help' for the options of one command.";
    return text;
}

int run_program_options (int argc, char **argv)
{
    gboolean version = FALSE;
    const GOptionEntry entries[] = {
        {"version", 0, 0, G_OPTION_ARG_NONE, &version, "Show the version and exit", nullptr},
        {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
    };
    OptionContext context = make_context ("COMMAND [OPTION...] [ARGUMENT...]",
                                          "Inspect, convert and thumbnail images with tamba.",
                                          entries);
    const std::string commands = command_list ();
    g_option_context_set_description (context.get (), commands.c_str ());
    // Options after the command's name are the command's.
    g_option_context_set_strict_posix (context.get (), TRUE);
    if (!parse_options (context.get (), &argc, &argv)) return kExitUsage;
    if (version) {
        std::printf ("tamba-tool %s\n", TAMBA_TOOL_VERSION);
        return kExitOk;
    }
    return usage_error ("no command given");
}

}  // namespace

int main (int argc, char **argv)
{
    // Help text is UTF-8; GLib converts it to the terminal's character set.
    std::setlocale (LC_ALL, "");
    capture_log_messages ();
    if (argc < 2 || argv[1][0] == '-') {
        g_set_prgname ("tamba-tool");
        return run_program_options (argc, argv);
    }
    for (const Command &c : kCommands) {
        if (std::strcmp (argv[1], c.name) != 0) continue;
        gchar *name = g_strconcat ("tamba-tool ", c.name, nullptr);
        g_set_prgname (name);
        g_free (name);
        return c.run (argc - 1, argv + 1);
    }
    g_set_prgname ("tamba-tool");
    std::fprintf (stderr, "tamba-tool: unknown command '%s'\n%s\n", argv[1],
                  command_list ().c_str ());
    return kExitUsage;
}
