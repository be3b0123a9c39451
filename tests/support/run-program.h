// SPDX-License-Identifier: LGPL-2.1-or-later
// Running a built program from a test and collecting what it did.
#ifndef TAMBA_TESTS_RUN_PROGRAM_H
#define TAMBA_TESTS_RUN_PROGRAM_H

#include <string>
#include <vector>

#include <glib.h>

namespace tamba::test {

struct ProgramRun {
    int status = -1;  // the exit status; 128 + the signal's number when one ended it
    std::string out, err;
};

// Runs argv (argv[0] searched on PATH) in dir (nullptr: this process's folder) with env
// (nullptr: this process's environment); a program that cannot start fails the test.
ProgramRun run_program (const std::vector<std::string> &argv, const char *dir = nullptr,
                        gchar **env = nullptr);

}  // namespace tamba::test

#endif  // TAMBA_TESTS_RUN_PROGRAM_H
