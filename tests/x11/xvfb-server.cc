// SPDX-License-Identifier: LGPL-2.1-or-later
#include "xvfb-server.h"

#include <gdk/gdk.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace tamba::test {

XvfbServer::XvfbServer (const std::string &config)
{
    std::istringstream in (config);
    std::vector<std::string> args = {"Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-noreset", "-screen", "0"};
    std::string depth = "24";
    in >> depth;
    args.push_back ("640x480x" + depth);
    for (std::string w; in >> w;) args.push_back (w);

    int fds[2];
    if (pipe (fds) != 0) return;
    pid_ = fork ();
    if (pid_ < 0) {
        close (fds[0]);
        close (fds[1]);
        return;
    }
    if (pid_ == 0) {
        // The server must not outlive a test process that dies without tearing down (an abort,
        // a fatal X error), nor hold its output pipe open.
        prctl (PR_SET_PDEATHSIG, SIGTERM);
        dup2 (fds[1], 3);  // the pipe's own descriptors go with the rest below
        std::vector<char *> argv;
        for (auto &a : args) argv.push_back (a.data ());
        argv.push_back (nullptr);
        // The server's start-up chatter would bury the test output.
        const int null = open ("/dev/null", O_RDWR);
        if (null < 0) _exit (126);
        for (int fd : {0, 1, 2}) dup2 (null, fd);
        for (int fd = 4; fd < 1024; ++fd) close (fd);
        execvp ("Xvfb", argv.data ());
        _exit (127);
    }
    close (fds[1]);
    // The display number and a newline arrive when the server accepts connections; end of file
    // means it died first (or is not installed).
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    while (number.find ('\n') == std::string::npos && poll (&p, 1, 10000) > 0) {
        char buf[32];
        const ssize_t n = read (fds[0], buf, sizeof buf);
        if (n <= 0) break;
        number.append (buf, size_t (n));
    }
    close (fds[0]);
    if (number.find ('\n') != std::string::npos) display_ = ":" + number.substr (0, number.find ('\n'));
}

XvfbServer::~XvfbServer ()
{
    if (pid_ <= 0) return;
    kill (pid_, SIGTERM);
    while (waitpid (pid_, nullptr, 0) < 0 && errno == EINTR) continue;
}

std::string xvfb_config_from_env ()
{
    const char *c = std::getenv ("TAMBA_XVFB");
    return c && *c ? c : "24";
}

bool open_layer_on (const std::string &display)
{
    std::string prog = "tamba-x11", opt = "--display", name = display;
    char *argv[] = {prog.data (), opt.data (), name.data (), nullptr};
    int argc = 3;
    char **argvp = argv;
    return !display.empty () && gdk_init_check (&argc, &argvp) && argc == 1;
}

}  // namespace tamba::test
