#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# Fails when the library exports anything but its documented functions and data.
set -eu
lib="$1"
syms=$(nm -D --defined-only "$lib" | awk '{print $3}')
bad=$(printf '%s\n' "$syms" | grep -v -E '^(tamba_[a-z0-9_]+|pixops_[a-z0-9_]+|local_rgb_txt)$' || true)
if [ -n "$bad" ]; then
  echo "unexpected exported symbols:"; printf '%s\n' "$bad"; exit 1
fi
for required in tamba_new tamba_major_version tamba_version tamba_dpy tamba_screen local_rgb_txt \
    tamba_get_module tamba_load_module tamba_new_from_file tamba_loader_get_type tamba_loader_write \
    tamba_new_from_file_at_size tamba_save tamba_save_with_quality \
    pixops_scale pixops_composite pixops_composite_color; do
  printf '%s\n' "$syms" | grep -qx "$required" || { echo "missing export: $required"; exit 1; }
done
echo "$(printf '%s\n' "$syms" | wc -l) exported symbols, all documented"
