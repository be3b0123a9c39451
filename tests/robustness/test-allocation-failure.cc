// SPDX-License-Identifier: LGPL-2.1-or-later
// Allocation failure and bounds: this executable interposes malloc, calloc, realloc and the
// aligned forms, and fails the n-th request made by anything but GLib (whose own allocations abort by design),
// the dynamic loader and the test itself, for n = 1, 2, ... until a run makes no more requests
// than that. Each run of loading (every sample, whole-file and progressive), saving and scaling
// must end in NULL/FALSE or in the very result of a run without failures, and free everything
// it allocated. The same bookkeeping measures what refusing an oversized image costs.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <link.h>
#include <malloc.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <string>

#include "corpus.h"
#include "image-writers.h"
#include "modules.h"
#include "tamba/tamba.h"

extern "C" {
void *__libc_malloc (size_t);
void *__libc_calloc (size_t, size_t);
void *__libc_realloc (void *, size_t);
void *__libc_memalign (size_t, size_t);
void __libc_free (void *);
}

namespace {

// Requests still to pass before one fails (0: none is counted); failures so far.
std::atomic<long> g_countdown {0};
std::atomic<long> g_failed {0};
thread_local bool t_inside = false;

// Live blocks from counted callers, in a fixed table (the interposer may not allocate).
constexpr size_t kSlots = 1 << 16;
std::array<std::atomic<void *>, kSlots> g_live {};
std::atomic<long> g_live_count {0};
// Bytes held in those blocks, and the most held at once.
std::atomic<size_t> g_live_bytes {0}, g_peak_bytes {0};

bool spared (const void *caller)
{
    Dl_info info;
    if (!dladdr (caller, &info) || !info.dli_fname) return true;
    static const void *self_base = [] {
        Dl_info me;
        dladdr (reinterpret_cast<const void *> (&spared), &me);
        return me.dli_fbase;
    }();
    if (info.dli_fbase == self_base) return true;
    const char *name = std::strrchr (info.dli_fname, '/');
    name = name ? name + 1 : info.dli_fname;
    for (const char *lib : {"libglib-2.0", "libgobject-2.0", "libgmodule-2.0", "ld-linux", "libc.so"})
        if (std::strncmp (name, lib, std::strlen (lib)) == 0) return true;
    return false;
}

// Whether a request from caller is counted and whether it fails: the n-th counted one does, then
// none for the rest of the run.
struct Verdict {
    bool counted, fail;
};
Verdict judge (const void *caller)
{
    if (g_countdown.load () == 0 || t_inside) return {false, false};
    t_inside = true;
    const bool counted = !spared (caller);
    t_inside = false;
    if (!counted) return {false, false};
    const long left = g_countdown.fetch_sub (1);
    if (left == 1) ++g_failed;
    if (left <= 1) g_countdown = -1;
    return {true, left == 1};
}

// Open addressing; a freed slot becomes a tombstone so that later entries of its chain are found.
void *const kTombstone = reinterpret_cast<void *> (1);

void remember (void *p)
{
    if (!p) return;
    for (size_t i = (reinterpret_cast<uintptr_t> (p) >> 4) % kSlots;; i = (i + 1) % kSlots) {
        void *expected = nullptr;
        if (g_live[i].compare_exchange_strong (expected, p)) break;
    }
    ++g_live_count;
    const size_t held = g_live_bytes += malloc_usable_size (p);
    for (size_t peak = g_peak_bytes.load (); held > peak && !g_peak_bytes.compare_exchange_weak (peak, held);) {}
}

void forget (void *p)
{
    if (!p || g_live_count.load () == 0) return;
    for (size_t i = (reinterpret_cast<uintptr_t> (p) >> 4) % kSlots, n = 0; n < kSlots; i = (i + 1) % kSlots, ++n) {
        void *expected = p;
        if (g_live[i].compare_exchange_strong (expected, kTombstone)) {
            --g_live_count;
            g_live_bytes -= malloc_usable_size (p);
            return;
        }
        if (!expected) return;  // never remembered
    }
}

void clear_live ()
{
    for (auto &slot : g_live) slot = nullptr;
    g_live_count = 0;
    g_live_bytes = 0;
    g_peak_bytes = 0;
}

}  // namespace

extern "C" {
void *malloc (size_t n)
{
    const Verdict v = judge (__builtin_return_address (0));
    void *p = v.fail ? nullptr : __libc_malloc (n);
    if (v.counted) remember (p);
    return p;
}
void *calloc (size_t n, size_t size)
{
    const Verdict v = judge (__builtin_return_address (0));
    void *p = v.fail ? nullptr : __libc_calloc (n, size);
    if (v.counted) remember (p);
    return p;
}
void *realloc (void *old, size_t n)
{
    const Verdict v = judge (__builtin_return_address (0));
    void *p = v.fail ? nullptr : __libc_realloc (old, n);
    if (p && p != old) forget (old);
    if (v.counted && p != old) remember (p);
    return p;
}
void free (void *p)
{
    forget (p);
    __libc_free (p);
}
void *aligned_alloc (size_t align, size_t n)
{
    const Verdict v = judge (__builtin_return_address (0));
    void *p = v.fail ? nullptr : __libc_memalign (align, n);
    if (v.counted) remember (p);
    return p;
}
int posix_memalign (void **out, size_t align, size_t n)
{
    const Verdict v = judge (__builtin_return_address (0));
    *out = v.fail ? nullptr : __libc_memalign (align, n);
    if (v.counted) remember (*out);
    return *out ? 0 : ENOMEM;
}
}

namespace tamba::test {
namespace {

using Run = std::function<ImagePtr ()>;

// Runs op with the n-th counted request failing, n = 1, 2, ... until a run fails none; each
// result is NULL or the unfailed run's, and no counted block outlives a run.
void fail_each_request (const std::string &what, const Run &op)
{
    const ImagePtr want = op ();  // also does what happens once per process (modules, tables)
    ASSERT_NE (want, nullptr) << what;
    clear_live ();
    for (long n = 1;; ++n) {
        g_failed = 0;
        g_countdown = n;
        ImagePtr got = op ();
        g_countdown = 0;
        const bool failed = g_failed.load () > 0;
        if (got) {
            EXPECT_EQ (compare_images (got.get (), want.get ()), "") << what << ", request " << n;
        }
        got.reset ();
        ASSERT_EQ (g_live_count.load (), 0) << what << ": a block leaked when request " << n << " failed";
        clear_live ();
        if (!failed) {
            EXPECT_GT (n, 1) << what << " made no request that could fail";
            break;
        }
    }
}

std::string sample (const char *name) { return std::string (TAMBA_SAMPLES_DIR) + "/" + name; }

constexpr const char *kSamples[] = {"badge.png", "bars.bmp", "bounce.gif", "disc.ico", "flower.xpm",
                                    "pattern.xbm", "photo.jpg", "stripes.ras", "tiles.tiff", "wheel.ppm"};

TEST (AllocationFailure, LoadingWholeAndProgressive)
{
    for (const char *name : kSamples) {
        const std::string path = sample (name);
        fail_each_request (std::string (name) + " whole", [&] { return ImagePtr (tamba_new_from_file (path.c_str ())); });
        const Bytes bytes = read_file (path);
        fail_each_request (std::string (name) + " progressive", [&] {
            TambaLoader *loader = tamba_loader_new ();
            bool ok = true;
            for (size_t off = 0; off < bytes.size () && ok; off += 4096)
                ok = tamba_loader_write (loader, bytes.data () + off, std::min<size_t> (4096, bytes.size () - off));
            tamba_loader_close (loader);
            Tamba *image = ok ? tamba_loader_get_tamba (loader) : nullptr;
            if (image) tamba_ref (image);
            g_object_unref (loader);
            return ImagePtr (image);
        });
    }
}

TEST (AllocationFailure, SavingAndScaling)
{
    const ImagePtr photo (tamba_new_from_file (sample ("badge.png").c_str ()));
    ASSERT_NE (photo, nullptr);
    const std::string out = std::string (g_get_tmp_dir ()) + "/tamba-allocation-failure";
    for (const char *format : {"png", "bmp", "pnm", "jpeg"})
        fail_each_request (std::string ("saving ") + format, [&] {
            return tamba_save (photo.get (), out.c_str (), format) ? ImagePtr (tamba_copy (photo.get ())) : nullptr;
        });
    for (int interp = 0; interp < 4; ++interp) {
        fail_each_request ("scaling", [&] { return ImagePtr (tamba_scale_simple (photo.get (), 37, 91, GdkInterpType (interp))); });
        fail_each_request ("compositing", [&] {
            return ImagePtr (tamba_composite_color_simple (photo.get (), 300, 41, GdkInterpType (interp), 200, 8, 0x808080, 0xffffff));
        });
    }
    std::remove (out.c_str ());
}

// A small file of each format whose header claims w x h.
Bytes claiming (const std::string &format, std::int64_t w, std::int64_t h)
{
    const auto u = [] (std::int64_t v) { return std::uint32_t (v); };
    const std::string size = std::to_string (w) + " " + std::to_string (h);
    if (format == "png") return png_of_size (u (w), u (h));
    if (format == "jpeg") return with_frame_size (corpus_file ("jpeg/generated/baseline-444.jpg"), u (w), u (h));
    if (format == "tiff") return tiff_of (u (w), u (h));
    if (format == "gif") return make_gif (int (w), int (h), {}, {{}});
    if (format == "bmp") return write_bmp ({.width = int (w), .height = int (h)}, {});
    if (format == "ico") return write_ico ({{0, 0, 24, write_bmp ({.width = int (w), .height = int (2 * h)}, {}, false)}});
    if (format == "ras") return ras_header ({u (w), u (h), 24, 0, 1, 0, 0});
    if (format == "pnm") return bytes_of ("P6\n" + size + "\n255\n" + std::string (64, 'x'));
    if (format == "xpm") return bytes_of ("/* XPM */\nstatic char *x[] = {\n\"" + size + " 1 1\",\n\"a c #000000\",\n\"a\"};\n");
    return bytes_of ("#define x_width " + std::to_string (w) + "\n#define x_height " + std::to_string (h) + "\nstatic char x_bits[] = {0x00};\n");
}

// A tiny file claiming the largest size its header can hold, or just over the format's limit, is
// refused whole-file and progressively, having held at most 32 MB (its claim is never allocated).
TEST (Bounds, OversizedClaimsAreRefusedCheaply)
{
    constexpr size_t kBudget = 32u << 20;
    const std::int64_t u32 = 0xFFFFFFFF, i31 = 0x7FFFFFFF, u16 = 0xFFFF;
    struct Claim {
        const char *format;
        std::int64_t w, h;
    };
    // The pixel limit is 2^28; PNG, JPEG and TIFF allow sides of 2^24, the others 65535.
    const Claim claims[] = {
        {"png", i31, i31},  {"png", (1 << 24) + 1, 1}, {"png", 16385, 16385},
        {"jpeg", u16, u16}, {"jpeg", 65500, 4099},
        {"tiff", u32, u32}, {"tiff", (1 << 24) + 1, 1}, {"tiff", 16385, 16385},
        {"gif", u16, u16},  {"gif", u16, 4097},
        {"bmp", i31, i31},  {"bmp", 65536, 1},        {"bmp", u16, 4097},
        {"ico", i31, i31 / 2}, {"ico", 65536, 1},
        {"ras", u32, u32},  {"ras", 65536, 1},        {"ras", u16, 4097},
        {"pnm", u32, u32},  {"pnm", 65536, 1},        {"pnm", u16, 4097},
        {"xpm", u32, u32},  {"xpm", 65536, 1},        {"xpm", u16, 4097},
        {"xbm", u32, u32},  {"xbm", 65536, 1},        {"xbm", u16, 4097},
    };
    for (const Claim &c : claims) {
        SCOPED_TRACE (std::string (c.format) + " " + std::to_string (c.w) + "x" + std::to_string (c.h));
        const Module &module = module_for (c.format);
        ASSERT_TRUE (module.ok ());
        const Bytes bytes = claiming (c.format, c.w, c.h);
        g_countdown = LONG_MAX;  // count, never fail
        ImagePtr whole (module.load_bytes (bytes));
        auto pieces = load_in_pieces (module, bytes, 7);
        g_countdown = 0;
        EXPECT_EQ (whole, nullptr);
        EXPECT_FALSE (pieces.increments_ok && pieces.complete_before_stop);
        EXPECT_LE (g_peak_bytes.load (), kBudget);
        whole.reset ();
        clear_live ();
    }
}

}  // namespace
}  // namespace tamba::test
