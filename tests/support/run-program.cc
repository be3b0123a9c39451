// SPDX-License-Identifier: LGPL-2.1-or-later
#include "run-program.h"

#include <sys/wait.h>

#include <gtest/gtest.h>

namespace tamba::test {

ProgramRun run_program (const std::vector<std::string> &argv, const char *dir, gchar **env)
{
    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back (const_cast<char *> (a.c_str ()));
    args.push_back (nullptr);
    gchar *out = nullptr, *err = nullptr;
    int wait_status = 0;
    GError *error = nullptr;
    ProgramRun run;
    if (g_spawn_sync (dir, args.data (), env, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &out, &err,
                      &wait_status, &error)) {
        run.status = WIFEXITED (wait_status) ? WEXITSTATUS (wait_status)
                                             : 128 + WTERMSIG (wait_status);
        run.out = out ? out : "";
        run.err = err ? err : "";
    } else {
        ADD_FAILURE () << argv[0] << ": " << error->message;
        g_error_free (error);
    }
    g_free (out);
    g_free (err);
    return run;
}

}  // namespace tamba::test
