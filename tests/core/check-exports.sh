#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# The library exports exactly what its public headers declare with TAMBA_API, nothing more and
# nothing less. With --hooks (the build tree's copy) it may also export the C++ test hooks and
# internals (tamba::hooks, tamba::detail), and nothing else.
#   check-exports.sh [--hooks] LIB HEADER...
set -eu
hooks=0
[ "$1" = --hooks ] && { hooks=1; shift; }
lib=$1; shift
# One declaration per ';'; the name is the identifier before '(' or '[', else the last one.
declared=$(cat "$@" | tr '\n' ' ' | tr ';' '\n' | grep 'TAMBA_API' | grep -v 'define *TAMBA_API' |
  sed -e 's/.*TAMBA_API//' -e 's/[[(].*//' -e 's/[^A-Za-z0-9_]*$//' -e 's/.*[^A-Za-z0-9_]//' | sort -u)
exported=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort -u)
[ -n "$declared" ] || { echo "no TAMBA_API declarations found in $*"; exit 1; }
missing=$(printf '%s\n' "$declared" | grep -vxF "$exported" || true)
extra=$(printf '%s\n' "$exported" | grep -vxF "$declared" || true)
if [ "$hooks" = 1 ]; then
  extra=$(printf '%s\n' "$extra" | grep -vE '^_ZN(K)?5tamba(5hooks|6detail)' || true)
fi
[ -z "$missing" ] || { echo "declared but not exported:"; printf '%s\n' "$missing"; exit 1; }
[ -z "$extra" ] || { echo "exported but not declared:"; printf '%s\n' "$extra"; exit 1; }
echo "$(printf '%s\n' "$declared" | wc -l) declared symbols, all exported and nothing else"
