// SPDX-License-Identifier: LGPL-2.1-or-later
// thumbnail: many files to PNG thumbnails, in this process or in worker processes. Loading is
// single-threaded by design, so parallel work means processes: the parent hands out one file
// at a time to whichever worker is free and collects every result through one pipe.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <glib/gstdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tool.h"

namespace tamba::tool {

namespace {

struct Job {
    int size = 256;
    std::string dir = ".";
};

// "<dir>/<name without its extension>.png".
std::string output_name (const char *file, const std::string &dir)
{
    gchar *base = g_path_get_basename (file);
    std::string name = base;
    g_free (base);
    const size_t dot = name.rfind ('.');
    if (dot != std::string::npos && dot > 0) name.erase (dot);
    gchar *path = g_build_filename (dir.c_str (), (name + ".png").c_str (), nullptr);
    std::string out = path;
    g_free (path);
    return out;
}

// The image size from the module's progressive entries, which prepare the image as soon as its
// header is in: far cheaper than a decode. Taking no reference at prepare lets the module drop
// the rest instead of decoding it for nobody (a loader object would hold one). False when the
// module has no progressive entries or never prepared an image.
bool peek_size (TambaModule *module, const char *file, int *width, int *height)
{
    if (!module->module) tamba_load_module (module);
    if (!module->begin_load || !module->load_increment || !module->stop_load) return false;
    FILE *f = std::fopen (file, "rb");
    if (!f) return false;
    const Tamba *seen = nullptr;
    gpointer context = module->begin_load (
        [] (Tamba *image, gpointer data) {
            *static_cast<const Tamba **> (data) = image;
        },
        nullptr, nullptr, nullptr, &seen);
    guchar buffer[4096];
    size_t piece = 128;  // the header bytes first, as the progressive loader sends them
    size_t n = 0;
    bool fed = context != nullptr;
    while (fed && !seen && (n = std::fread (buffer, 1, piece, f)) > 0) {
        fed = module->load_increment (context, buffer, guint (n));
        piece = sizeof buffer;
    }
    if (seen) {
        *width = seen->width;
        *height = seen->height;
    }
    if (context) module->stop_load (context);
    std::fclose (f);
    take_log_message ();
    return seen != nullptr;
}

// Writes one thumbnail; "" on success, else the reason.
std::string make_thumbnail (const char *file, const Job &job)
{
    std::string error;
    TambaModule *module = probe_file (file, &error);
    if (!module) return error;
    int width = 0, height = 0;
    const bool known = peek_size (module, file, &width, &height);

    Image image;
    if (known && std::max (width, height) > job.size) {
        take_log_message ();
        image.reset (tamba_new_from_file_at_size (file, job.size, job.size, TRUE));
        if (!image) return decode_failure ();
    } else {
        image = load_image (file, &error);
        if (!image) return error;
        // A size the loader could not tell beforehand is checked now.
        if (std::max (image->width, image->height) > job.size) {
            int tw = 0, th = 0;
            fit_size (image->width, image->height, job.size, &tw, &th);
            image.reset (tamba_scale_simple (image.get (), tw, th, GDK_INTERP_HYPER));
            if (!image) return "cannot scale: out of memory";
        }
    }
    const std::string out = output_name (file, job.dir);
    if (!save_image (image.get (), out.c_str (), "png", 90, &error)) return out + ": " + error;
    return "";
}

// Counts, and a progress line that is redrawn in place when stderr is a terminal.
class Progress {
public:
    explicit Progress (size_t total) : total_ (total), start_ (g_get_monotonic_time ()),
                                       tty_ (isatty (STDERR_FILENO)) {}

    void result (const char *file, const std::string &reason)
    {
        if (reason.empty ()) {
            done_++;
        } else {
            failed_++;
            if (tty_) std::fputs ("\r\033[K", stderr);
            report (file, reason);
        }
        if (tty_) draw ();
    }

    int finish ()
    {
        if (tty_) std::fputs ("\r\033[K", stderr);
        std::fprintf (stderr, "thumbnail: %zu done, %zu failed, %.2f s\n", done_, failed_,
                      seconds ());
        return failed_ ? kExitFailed : kExitOk;
    }

private:
    double seconds () const { return double (g_get_monotonic_time () - start_) / 1e6; }

    void draw () const
    {
        const size_t finished = done_ + failed_;
        const double elapsed = seconds ();
        const double rate = elapsed > 0 ? double (finished) / elapsed : 0;
        const double eta = rate > 0 ? double (total_ - finished) / rate : 0;
        std::fprintf (stderr, "\r%zu/%zu files, %.1f files/s, ETA %.0f s\033[K", finished,
                      total_, rate, eta);
        std::fflush (stderr);
    }

    size_t total_, done_ = 0, failed_ = 0;
    gint64 start_;
    bool tty_;
};

// One result as it travels from a worker: small enough for one atomic pipe write.
struct ResultHeader {
    std::int32_t worker;
    std::int32_t index;
    std::uint32_t length;
};
constexpr size_t kMaxReason = 2048;

bool read_all (int fd, void *data, size_t size)
{
    auto *p = static_cast<char *> (data);
    while (size > 0) {
        const ssize_t n = read (fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= size_t (n);
    }
    return true;
}

[[noreturn]] void worker (int tasks, int results, int id, char **files, const Job &job)
{
    std::int32_t index = 0;
    while (read_all (tasks, &index, sizeof index)) {
        std::string reason = make_thumbnail (files[index], job);
        if (reason.size () > kMaxReason) reason.resize (kMaxReason);
        char message[sizeof (ResultHeader) + kMaxReason];
        const ResultHeader header {id, index, std::uint32_t (reason.size ())};
        std::memcpy (message, &header, sizeof header);
        std::memcpy (message + sizeof header, reason.data (), reason.size ());
        if (write (results, message, sizeof header + reason.size ()) < 0) break;
    }
    _exit (0);
}

void run_in_workers (int jobs, int n_files, char **files, const Job &job, Progress &progress)
{
    jobs = std::min (jobs, n_files);
    int results[2];
    if (pipe (results) != 0) {
        for (int i = 0; i < n_files; i++)
            progress.result (files[i], std::string ("cannot start workers: ")
                                           + std::strerror (errno));
        return;
    }
    std::vector<int> task_fds (size_t (jobs), -1), current (size_t (jobs), -1);
    std::vector<int> read_ends (size_t (jobs), -1);
    for (int w = 0; w < jobs; w++) {
        int fds[2];
        if (pipe (fds) != 0) break;
        read_ends[size_t (w)] = fds[0];
        task_fds[size_t (w)] = fds[1];
    }
    std::fflush (nullptr);
    std::vector<pid_t> pids;
    for (int w = 0; w < jobs; w++) {
        if (task_fds[size_t (w)] < 0) continue;
        const pid_t pid = fork ();
        if (pid == 0) {
            // Only its own task pipe and the result pipe stay open in a worker, so every
            // worker sees the end of its tasks when the parent closes its side.
            for (int v = 0; v < jobs; v++) {
                if (task_fds[size_t (v)] >= 0) close (task_fds[size_t (v)]);
                if (v != w && read_ends[size_t (v)] >= 0) close (read_ends[size_t (v)]);
            }
            close (results[0]);
            worker (read_ends[size_t (w)], results[1], w, files, job);
        }
        if (pid < 0) {
            close (task_fds[size_t (w)]);
            task_fds[size_t (w)] = -1;
        } else {
            pids.push_back (pid);
        }
    }
    close (results[1]);
    for (int fd : read_ends)
        if (fd >= 0) close (fd);

    int next = 0, pending = 0;
    // Hands the next file to worker w, or tells it there is no more work.
    auto hand_out = [&] (int w) {
        int &fd = task_fds[size_t (w)];
        current[size_t (w)] = -1;
        while (fd >= 0 && next < n_files) {
            const std::int32_t index = next++;
            if (write (fd, &index, sizeof index) == ssize_t (sizeof index)) {
                current[size_t (w)] = index;
                pending++;
                return;
            }
            progress.result (files[index], "worker process died");
            close (fd);
            fd = -1;
        }
        if (fd >= 0) close (fd);
        fd = -1;
    };
    for (int w = 0; w < jobs; w++) hand_out (w);

    while (pending > 0) {
        ResultHeader header {};
        char reason[kMaxReason];
        if (!read_all (results[0], &header, sizeof header)) break;
        if (header.length > kMaxReason || header.worker < 0 || header.worker >= jobs
            || !read_all (results[0], reason, header.length))
            break;
        pending--;
        progress.result (files[header.index], std::string (reason, header.length));
        hand_out (header.worker);
    }
    close (results[0]);
    // Files a worker took but never answered for: the worker died on them.
    for (int w = 0; w < jobs; w++) {
        if (current[size_t (w)] >= 0) progress.result (files[current[size_t (w)]],
                                                        "worker process died");
        if (task_fds[size_t (w)] >= 0) close (task_fds[size_t (w)]);
    }
    for (int i = next; i < n_files; i++) progress.result (files[i], "not processed: no worker left");
    for (pid_t pid : pids) waitpid (pid, nullptr, 0);
}

}  // namespace

int run_thumbnail (int argc, char **argv)
{
    Job job;
    gchar *dir = nullptr;
    int jobs = 1;
    const GOptionEntry entries[] = {
        {"size", 's', 0, G_OPTION_ARG_INT, &job.size, "Longest side in pixels (default 256)",
         "N"},
        {"output-dir", 'o', 0, G_OPTION_ARG_FILENAME, &dir,
         "Folder for the thumbnails (default the current one; created if missing)", "DIR"},
        {"jobs", 'j', 0, G_OPTION_ARG_INT, &jobs, "Worker processes (default 1)", "N"},
        {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
    };
    OptionContext context = make_context (
        "FILE...", "Write each FILE as a PNG of longest side N named after it (its extension "
        "replaced by .png), aspect and alpha kept; smaller images are written unchanged.",
        entries);
    const bool parsed = parse_options (context.get (), &argc, &argv);
    if (dir) job.dir = dir;
    g_free (dir);
    if (!parsed) return kExitUsage;
    if (argc < 2) return usage_error ("no file given");
    if (job.size < 1) return usage_error ("--size must be at least 1");
    if (jobs < 1 || jobs > 256) return usage_error ("--jobs must be 1..256");

    if (g_mkdir_with_parents (job.dir.c_str (), 0777) != 0) {
        report (job.dir.c_str (), std::string ("cannot create: ") + std::strerror (errno));
        return kExitFailed;
    }
    Progress progress (size_t (argc - 1));
    if (jobs == 1) {
        for (int i = 1; i < argc; i++) progress.result (argv[i], make_thumbnail (argv[i], job));
    } else {
        // A worker that dies must not take the parent with it when the parent writes to it.
        std::signal (SIGPIPE, SIG_IGN);
        run_in_workers (jobs, argc - 1, argv + 1, job, progress);
    }
    return progress.finish ();
}

}  // namespace tamba::tool
