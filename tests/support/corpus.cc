// SPDX-License-Identifier: LGPL-2.1-or-later
#include "corpus.h"

#include <gmodule.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#ifndef TAMBA_DEFAULT_CORPUS_DIR
#define TAMBA_DEFAULT_CORPUS_DIR ""
#endif

namespace tamba::test {

std::string corpus_dir ()
{
    const char *env = std::getenv ("TAMBA_CORPUS_DIR");
    std::string dir = env && *env ? env : TAMBA_DEFAULT_CORPUS_DIR;
    if (dir.empty ()) return "";
    std::ifstream probe (dir + "/index.tsv");
    return probe ? dir : "";
}

std::vector<CorpusEntry> corpus_entries (const std::string &format)
{
    std::vector<CorpusEntry> out;
    const std::string dir = corpus_dir ();
    if (dir.empty ()) return out;
    std::ifstream in (dir + "/index.tsv");
    std::string line;
    std::getline (in, line);  // header
    while (std::getline (in, line)) {
        std::vector<std::string> cols;
        std::stringstream ss (line);
        std::string col;
        while (std::getline (ss, col, '\t')) cols.push_back (col);
        if (cols.size () < 4) continue;
        if (!format.empty () && cols[1] != format) continue;
        CorpusEntry e;
        e.path = dir + "/" + cols[0];
        e.format = cols[1];
        e.expect = cols[2];
        e.ref = cols[3] == "-" ? "" : dir + "/" + cols[3];
        e.notes = cols.size () > 4 ? cols[4] : "";
        out.push_back (std::move (e));
    }
    return out;
}

std::string corpus_test_name (const CorpusEntry &e)
{
    const std::string dir = corpus_dir ();
    std::string rel = e.path.substr (std::min (e.path.size (), dir.size () + 1));
    for (char &c : rel)
        if (!std::isalnum (static_cast<unsigned char> (c))) c = '_';
    return rel;
}

std::vector<std::uint8_t> read_file (const std::string &path)
{
    std::ifstream in (path, std::ios::binary);
    return std::vector<std::uint8_t> ((std::istreambuf_iterator<char> (in)),
                                      std::istreambuf_iterator<char> ());
}

std::optional<Pam> read_pam (const std::string &path)
{
    const auto bytes = read_file (path);
    const std::string text (bytes.begin (), bytes.end ());
    const size_t end = text.find ("ENDHDR\n");
    if (text.compare (0, 3, "P7\n") != 0 || end == std::string::npos) return std::nullopt;
    Pam pam;
    int maxval = 0;
    std::stringstream header (text.substr (3, end - 3));
    std::string key;
    while (header >> key) {
        if (key == "WIDTH") header >> pam.width;
        else if (key == "HEIGHT") header >> pam.height;
        else if (key == "DEPTH") header >> pam.depth;
        else if (key == "MAXVAL") header >> maxval;
        else if (key == "TUPLTYPE") header >> key;
    }
    const size_t n = size_t (pam.width) * size_t (pam.height) * size_t (pam.depth);
    const size_t start = end + 7;
    if (maxval != 255 || (pam.depth != 3 && pam.depth != 4) || bytes.size () < start + n)
        return std::nullopt;
    pam.samples.assign (bytes.begin () + long (start), bytes.begin () + long (start + n));
    return pam;
}

std::string compare_with_ref (const Tamba *image, const Pam &ref, int tolerance, int *max_diff)
{
    if (max_diff) *max_diff = 0;
    if (!image) return "no image";
    if (image->width != ref.width || image->height != ref.height) {
        std::ostringstream os;
        os << "size " << image->width << "x" << image->height << ", reference " << ref.width
           << "x" << ref.height;
        return os.str ();
    }
    if (ref.depth == 4 && !image->has_alpha) return "reference has alpha, image has none";
    const int nc = image->n_channels;
    int worst = 0;
    std::string first;
    for (int y = 0; y < ref.height; ++y) {
        const guchar *row = image->pixels + size_t (y) * size_t (image->rowstride);
        for (int x = 0; x < ref.width; ++x) {
            const guchar *p = row + size_t (x) * size_t (nc);
            const std::uint8_t *q = ref.samples.data () + (size_t (y) * size_t (ref.width) + size_t (x)) * size_t (ref.depth);
            const int pa = nc == 4 ? p[3] : 255;
            const int qa = ref.depth == 4 ? q[3] : 255;
            int d = std::abs (pa - qa);
            if (pa != 0 || qa != 0)
                for (int c = 0; c < 3; ++c) d = std::max (d, std::abs (int (p[c]) - int (q[c])));
            worst = std::max (worst, d);
            if (d > tolerance && first.empty ()) {
                std::ostringstream os;
                os << "pixel (" << x << "," << y << ") is " << int (p[0]) << "," << int (p[1])
                   << "," << int (p[2]) << "," << pa << ", reference " << int (q[0]) << ","
                   << int (q[1]) << "," << int (q[2]) << "," << qa;
                first = os.str ();
            }
        }
    }
    if (max_diff) *max_diff = worst;
    return first;
}

std::string compare_images (const Tamba *a, const Tamba *b)
{
    if (!a || !b) return a ? "second image missing" : "first image missing";
    if (a->width != b->width || a->height != b->height || a->n_channels != b->n_channels)
        return "sizes or layouts differ";
    const size_t row = size_t (a->width) * size_t (a->n_channels);
    for (int y = 0; y < a->height; ++y)
        if (!std::equal (a->pixels + size_t (y) * size_t (a->rowstride),
                         a->pixels + size_t (y) * size_t (a->rowstride) + row,
                         b->pixels + size_t (y) * size_t (b->rowstride)))
            return "pixels differ in row " + std::to_string (y);
    return "";
}

Module::Module (const std::string &path, const std::string &name)
{
    GModule *m = g_module_open (path.c_str (), G_MODULE_BIND_LAZY);
    if (!m) return;
    handle_ = m;
    auto bind = [&] (const char *entry, auto &field) {
        gpointer sym = nullptr;
        const std::string symbol = "tamba__" + name + "_" + entry;
        field = g_module_symbol (m, symbol.c_str (), &sym)
                    ? reinterpret_cast<std::remove_reference_t<decltype (field)>> (sym)
                    : nullptr;
    };
    bind ("image_load", entries_.load);
    bind ("image_load_xpm_data", entries_.load_xpm_data);
    bind ("image_begin_load", entries_.begin_load);
    bind ("image_stop_load", entries_.stop_load);
    bind ("image_load_increment", entries_.load_increment);
    bind ("image_load_animation", entries_.load_animation);
    bind ("image_load_at_size", entries_.load_at_size);
    entries_.module = m;
}

// Modules stay open, as the library keeps them; a module may have registered process state.
Module::~Module () = default;

Tamba *Module::load_file (const std::string &path) const
{
    if (!entries_.load) return nullptr;
    FILE *f = std::fopen (path.c_str (), "rb");
    if (!f) return nullptr;
    Tamba *t = entries_.load (f);
    std::fclose (f);
    return t;
}

TambaAnimation *Module::load_animation_file (const std::string &path) const
{
    if (!entries_.load_animation) return nullptr;
    FILE *f = std::fopen (path.c_str (), "rb");
    if (!f) return nullptr;
    TambaAnimation *a = entries_.load_animation (f);
    std::fclose (f);
    return a;
}

Progressive::Progressive (Progressive &&other) noexcept
    : image (other.image), increments_ok (other.increments_ok), prepared (other.prepared),
      updates (other.updates), updates_in_bounds (other.updates_in_bounds),
      frames (std::move (other.frames)), animation_done (other.animation_done),
      protocol_error (std::move (other.protocol_error))
{
    other.image = nullptr;
    other.frames.clear ();
}

Progressive::~Progressive ()
{
    for (TambaFrame *f : frames) {
        if (f->tamba) tamba_unref (f->tamba);
        g_free (f);
    }
    if (image) tamba_unref (image);
}

namespace {

void on_prepare (Tamba *image, gpointer data)
{
    auto *p = static_cast<Progressive *> (data);
    p->prepared++;
    if (!image) {
        p->protocol_error = "prepare without an image";
        return;
    }
    // The library takes a reference at prepare; a frame handed over later uses it.
    if (p->image) tamba_unref (p->image);
    p->image = tamba_ref (image);
}

void on_update (Tamba *image, guint x, guint y, guint w, guint h, gpointer data)
{
    auto *p = static_cast<Progressive *> (data);
    p->updates++;
    if (!p->prepared) p->protocol_error = "update before prepare";
    if (image && (guint64 (x) + w > guint64 (image->width) || guint64 (y) + h > guint64 (image->height)))
        p->updates_in_bounds = false;
}

void on_frame_done (TambaFrame *frame, gpointer data)
{
    auto *p = static_cast<Progressive *> (data);
    if (!frame) {
        p->protocol_error = "frame done without a frame";
        return;
    }
    // The frame owns the reference taken at prepare.
    if (frame->tamba && frame->tamba == p->image) p->image = nullptr;
    else if (frame->tamba) tamba_ref (frame->tamba);
    p->frames.push_back (frame);
}

void on_animation_done (Tamba *, gpointer data)
{
    static_cast<Progressive *> (data)->animation_done++;
}

}  // namespace

Progressive load_in_pieces (const Module &module, const std::vector<std::uint8_t> &bytes,
                            size_t piece_size)
{
    return load_in_pieces (module, bytes, std::vector<size_t> {piece_size});
}

Progressive load_in_pieces (const Module &module, const std::vector<std::uint8_t> &bytes,
                            const std::vector<size_t> &piece_sizes)
{
    Progressive p;
    const auto &m = module.entries ();
    if (!m.begin_load || !m.load_increment || !m.stop_load) {
        p.increments_ok = false;
        p.protocol_error = "module has no progressive entries";
        return p;
    }
    gpointer context = m.begin_load (on_prepare, on_update, on_frame_done, on_animation_done, &p);
    if (!context) {
        p.increments_ok = false;
        return p;
    }
    // Each piece is copied into a buffer of exactly its size, so the sanitizer build catches a
    // module that reads past what it was given.
    size_t turn = 0;
    for (size_t off = 0, n = 0; off < bytes.size (); off += n) {
        const size_t wanted = piece_sizes.empty () ? bytes.size ()
                                                   : piece_sizes[turn++ % piece_sizes.size ()];
        n = std::min (std::max<size_t> (wanted, 1), bytes.size () - off);
        std::vector<guchar> piece (bytes.begin () + long (off), bytes.begin () + long (off + n));
        if (!m.load_increment (context, piece.data (), guint (n))) {
            p.increments_ok = false;
            break;
        }
    }
    m.stop_load (context);
    return p;
}

void free_animation (TambaAnimation *animation)
{
    if (!animation) return;
    for (GList *l = animation->frames; l; l = l->next) {
        auto *f = static_cast<TambaFrame *> (l->data);
        if (f->tamba) tamba_unref (f->tamba);
        g_free (f);
    }
    g_list_free (animation->frames);
    g_free (animation);
}

}  // namespace tamba::test
