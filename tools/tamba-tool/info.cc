// SPDX-License-Identifier: LGPL-2.1-or-later
// info and checksum: what a file decodes to, as text, as JSON, or as a pixel digest.
#include <cstdio>
#include <string>
#include <vector>

#include "tool.h"

namespace tamba::tool {

namespace {

struct FrameInfo {
    int x, y, width, height, delay;
    TambaFrameAction action;
};

struct FileInfo {
    std::string file;
    std::string format;
    int width = 0, height = 0, channels = 0;
    bool alpha = false;
    bool animated = false;  // the format carries frames; the list is shown even for one
    std::vector<FrameInfo> frames;
};

// A JSON string literal; bytes that are not UTF-8 are replaced so the output always parses.
std::string json_string (const std::string &text)
{
    gchar *valid = g_utf8_make_valid (text.c_str (), gssize (text.size ()));
    std::string out = "\"";
    for (const char *p = valid; *p; p++) {
        const unsigned char c = static_cast<unsigned char> (*p);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char (c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf (escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += char (c);
        }
    }
    g_free (valid);
    return out + "\"";
}

std::string to_json (const FileInfo &info)
{
    std::string out = "{\"file\": " + json_string (info.file) + ", \"format\": "
                      + json_string (info.format) + ", \"width\": " + std::to_string (info.width)
                      + ", \"height\": " + std::to_string (info.height) + ", \"channels\": "
                      + std::to_string (info.channels)
                      + ", \"alpha\": " + (info.alpha ? "true" : "false");
    if (info.animated) {
        out += ", \"frames\": [";
        for (size_t i = 0; i < info.frames.size (); i++) {
            const FrameInfo &f = info.frames[i];
            if (i) out += ", ";
            out += "{\"x\": " + std::to_string (f.x) + ", \"y\": " + std::to_string (f.y)
                   + ", \"width\": " + std::to_string (f.width) + ", \"height\": "
                   + std::to_string (f.height) + ", \"delay\": " + std::to_string (f.delay)
                   + ", \"action\": \"" + action_name (f.action) + "\"}";
        }
        out += "]";
    }
    return out + "}";
}

void print_text (const FileInfo &info)
{
    std::printf ("%s: %s, %dx%d, %d channels, %s\n", info.file.c_str (), info.format.c_str (),
                 info.width, info.height, info.channels, info.alpha ? "alpha" : "no alpha");
    if (!info.animated) return;
    std::printf ("  %zu frame%s\n", info.frames.size (), info.frames.size () == 1 ? "" : "s");
    for (size_t i = 0; i < info.frames.size (); i++) {
        const FrameInfo &f = info.frames[i];
        std::printf ("  frame %zu: offset %d,%d size %dx%d delay %d action %s\n", i, f.x, f.y,
                     f.width, f.height, f.delay, action_name (f.action));
    }
}

bool gather (const char *file, FileInfo *info)
{
    std::string error;
    TambaModule *module = nullptr;
    Animation animation = load_animation (file, &error, &module);
    if (!animation) {
        report (file, error);
        return false;
    }
    auto *first = static_cast<TambaFrame *> (animation->frames->data);
    info->file = file;
    info->format = module->module_name;
    info->width = animation->width;
    info->height = animation->height;
    info->channels = first->tamba->n_channels;
    info->alpha = first->tamba->has_alpha;
    // The module is open now: a format with an animation entry is an animation format.
    info->animated = module->load_animation != nullptr;
    for (GList *l = animation->frames; l; l = l->next) {
        auto *f = static_cast<TambaFrame *> (l->data);
        info->frames.push_back ({f->x_offset, f->y_offset, f->tamba->width, f->tamba->height,
                                 f->delay_time, f->action});
    }
    return true;
}

}  // namespace

int run_info (int argc, char **argv)
{
    gboolean json = FALSE;
    const GOptionEntry entries[] = {
        {"json", 'j', 0, G_OPTION_ARG_NONE, &json,
         "Print JSON: one object for one file, an array for several", nullptr},
        {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
    };
    OptionContext context = make_context ("FILE...", "Show the format, size, channels and alpha "
                                          "of images, and the frames of animations.", entries);
    if (!parse_options (context.get (), &argc, &argv)) return kExitUsage;
    if (argc < 2) return usage_error ("no file given");

    int status = kExitOk;
    std::vector<std::string> objects;
    for (int i = 1; i < argc; i++) {
        FileInfo info;
        if (!gather (argv[i], &info)) {
            status = kExitFailed;
            continue;
        }
        if (json) objects.push_back (to_json (info));
        else print_text (info);
    }
    if (json && argc == 2) {
        if (!objects.empty ()) std::printf ("%s\n", objects[0].c_str ());
    } else if (json) {
        std::printf ("[");
        for (size_t i = 0; i < objects.size (); i++)
            std::printf ("%s\n  %s", i ? "," : "", objects[i].c_str ());
        std::printf ("\n]\n");
    }
    return status;
}

int run_checksum (int argc, char **argv)
{
    OptionContext context = make_context (
        "FILE...", "Print each file's size, alpha and the SHA-256 of its decoded pixels (rows "
        "without padding), as FILE WxH alpha|noalpha SHA256.", nullptr);
    if (!parse_options (context.get (), &argc, &argv)) return kExitUsage;
    if (argc < 2) return usage_error ("no file given");

    int status = kExitOk;
    for (int i = 1; i < argc; i++) {
        std::string error;
        Image image = load_image (argv[i], &error);
        if (!image) {
            report (argv[i], error);
            status = kExitFailed;
            continue;
        }
        std::printf ("%s %dx%d %s %s\n", argv[i], image->width, image->height,
                     image->has_alpha ? "alpha" : "noalpha", pixel_sha256 (image.get ()).c_str ());
    }
    return status;
}

}  // namespace tamba::tool
