// SPDX-License-Identifier: LGPL-2.1-or-later
// Test hooks: run-time overrides of paths fixed at build time, so the tests run the library as
// shipped. Exported by the build tree's libtamba only (libtamba-hooks.map); the installed library
// keeps them local. Unused, nothing changes.
#ifndef TAMBA_TAMBA_HOOKS_H
#define TAMBA_TAMBA_HOOKS_H

namespace tamba::hooks {

// Reads colour names from the database file at path (nullptr: the configured one) from the next
// name lookup on; the table built so far is dropped.
void set_rgb_txt_path (const char *path);

// Opens modules from directory (nullptr: the configured one) instead of the configured directory.
void set_module_dir (const char *directory);

}  // namespace tamba::hooks

#endif  // TAMBA_TAMBA_HOOKS_H
