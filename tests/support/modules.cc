// SPDX-License-Identifier: LGPL-2.1-or-later
#include "modules.h"

#include <gmodule.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>

#ifndef TAMBA_TEST_LOADER_DIR
#define TAMBA_TEST_LOADER_DIR ""
#endif

namespace tamba::test {

Bytes read_file (const std::string &path)
{
    std::ifstream in (path, std::ios::binary);
    return Bytes ((std::istreambuf_iterator<char> (in)), std::istreambuf_iterator<char> ());
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
    auto bind = [&] (const char *entry, auto &field) {
        gpointer sym = nullptr;
        if (m && g_module_symbol (m, ("tamba__" + name + "_" + entry).c_str (), &sym))
            field = reinterpret_cast<std::remove_reference_t<decltype (field)>> (sym);
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

namespace {

// Runs a whole-file entry on a temporary file holding the bytes.
template <typename Entry>
auto load_through (Entry entry, const Bytes &bytes) -> decltype (entry (nullptr))
{
    FILE *f = entry ? std::tmpfile () : nullptr;
    if (!f) return nullptr;
    std::fwrite (bytes.data (), 1, bytes.size (), f);
    std::rewind (f);
    auto result = entry (f);
    std::fclose (f);
    return result;
}

}  // namespace

Tamba *Module::load_bytes (const Bytes &bytes) const { return load_through (entries_.load, bytes); }
TambaAnimation *Module::load_animation_bytes (const Bytes &bytes) const { return load_through (entries_.load_animation, bytes); }

Tamba *Module::load_xpm_strings (const std::vector<std::string> &strings) const
{
    std::vector<const char *> data;
    for (const auto &s : strings) data.push_back (s.c_str ());
    data.push_back (nullptr);
    return entries_.load_xpm_data ? entries_.load_xpm_data (data.data ()) : nullptr;
}

const Module &module_for (const std::string &format)
{
    static std::map<std::string, std::unique_ptr<Module>> modules;
    auto &m = modules[format];
    if (!m) m = std::make_unique<Module> (std::string (TAMBA_TEST_LOADER_DIR) + "/libtambaloader-" + format + ".so", format);
    return *m;
}

namespace {

void free_frame (gpointer frame)
{
    if (Tamba *t = static_cast<TambaFrame *> (frame)->tamba) tamba_unref (t);
    g_free (frame);
}

void on_prepare (Tamba *image, gpointer data)
{
    auto *p = static_cast<Progressive *> (data);
    p->prepared++;
    if (!image) return void (p->protocol_error = "prepare without an image");
    // The library takes a reference at prepare; a frame handed over later uses it.
    if (p->image) tamba_unref (p->image);
    p->image = tamba_ref (image);
    p->row_updates.assign (size_t (image->height), 0);
    p->image_updates = 0;
}

void on_update (Tamba *image, guint x, guint y, guint w, guint h, gpointer data)
{
    auto *p = static_cast<Progressive *> (data);
    p->updates++;
    if (!p->prepared) p->protocol_error = "update before prepare";
    if (!image) return;
    const bool inside = guint64 (x) + w <= guint64 (image->width) && guint64 (y) + h <= guint64 (image->height);
    p->updates_in_bounds &= inside;
    if (!inside || image != p->image) return;
    p->image_updates++;
    for (guint r = y; r < y + h; ++r) p->row_updates[r]++;
}

void on_frame_done (TambaFrame *frame, gpointer data)
{
    auto *p = static_cast<Progressive *> (data);
    if (!frame) return void (p->protocol_error = "frame done without a frame");
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

Progressive load_in_pieces (const Module &module, const Bytes &bytes,
                            const std::vector<size_t> &piece_sizes)
{
    Progressive p;
    const auto &m = module.entries ();
    const bool progressive = m.begin_load && m.load_increment && m.stop_load;
    gpointer context = progressive ? m.begin_load (on_prepare, on_update, on_frame_done, on_animation_done, &p) : nullptr;
    if (!context) {
        p.increments_ok = false;
        if (!progressive) p.protocol_error = "module has no progressive entries";
        return p;
    }
    // Each piece is copied into a buffer of exactly its size, so the sanitizer build catches a
    // module that reads past what it was given.
    size_t turn = 0;
    for (size_t off = 0, n = 0; off < bytes.size (); off += n) {
        const size_t wanted = piece_sizes.empty () ? 0 : piece_sizes[turn++ % piece_sizes.size ()];
        n = wanted ? std::min (wanted, bytes.size () - off) : bytes.size () - off;
        std::vector<guchar> piece (bytes.begin () + long (off), bytes.begin () + long (off + n));
        if (!m.load_increment (context, piece.data (), guint (n))) {
            p.increments_ok = false;
            break;
        }
    }
    p.prepared_before_stop = p.prepared, p.updates_before_stop = p.updates;
    p.complete_before_stop = p.prepared > 0 && !p.row_updates.empty ()
                             && std::count (p.row_updates.begin (), p.row_updates.end (), 0) == 0;
    m.stop_load (context);
    return p;
}

Progressive::~Progressive ()
{
    for (TambaFrame *f : frames) free_frame (f);
    if (image) tamba_unref (image);
}

void free_animation (TambaAnimation *animation)
{
    if (!animation) return;
    g_list_free_full (animation->frames, free_frame);
    g_free (animation);
}

}  // namespace tamba::test
