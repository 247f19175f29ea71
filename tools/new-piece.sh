#!/usr/bin/env bash
# Writes a standalone project for a new zeal piece.
#
#   tools/new-piece.sh NAME [DIR]
#
# DIR (by default ./NAME) gets CMakeLists.txt, NAME.cpp (a handler that makes
# a sound and a picture on one clock), resources/, a test that renders the
# first second to a film, and a README with the commands to build and run it.
set -euo pipefail

usage() {
  cat <<'USAGE'
usage: new-piece.sh NAME [DIR]

Writes a new zeal piece called NAME into DIR (default: ./NAME), which must
not exist or be empty. NAME starts with a letter; letters, digits, '_' and
'-' follow. Then, in DIR:

  cmake -S . -B build -DCMAKE_PREFIX_PATH=<zeal's install prefix>
  cmake --build build -j && ctest --test-dir build

or -DZEAL_SOURCE=<a zeal checkout> instead of CMAKE_PREFIX_PATH to build
zeal's library inside the piece's build.
USAGE
}

case "${1:-}" in
  -h|--help) usage; exit 0 ;;
  "") usage >&2; exit 2 ;;
esac
[ $# -le 2 ] || { usage >&2; exit 2; }
name=$1
dir=${2:-$name}
if ! [[ "$name" =~ ^[A-Za-z][A-Za-z0-9_-]*$ ]]; then
  echo "ERROR: \"$name\" cannot name a piece: a letter first, then letters, digits, '_' or '-'" >&2
  exit 2
fi
if [ -e "$dir" ] && [ -n "$(ls -A "$dir" 2>/dev/null)" ]; then
  echo "ERROR: $dir is not empty: the new piece needs a folder of its own" >&2
  exit 1
fi

# The template beside this script in a checkout, or in share/zeal when
# installed as bin/zeal-new-piece.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [ -d "$here/piece-template" ]; then
  template=$here/piece-template
  prefix="<zeal's install prefix>"
elif [ -d "$here/../share/zeal/piece-template" ]; then
  template=$(cd "$here/../share/zeal/piece-template" && pwd)
  prefix=$(cd "$here/.." && pwd)
else
  echo "ERROR: the piece template is neither in $here/piece-template nor in $here/../share/zeal" >&2
  exit 1
fi

mkdir -p "$dir"
cp -R "$template/." "$dir/"
mv "$dir/piece.cpp" "$dir/$name.cpp"
identifier=${name//-/_}
find "$dir" -type f \( -name '*.cpp' -o -name '*.txt' -o -name '*.cmake' -o -name '*.md' \) -print0 |
  xargs -0 sed -i -e "s|@NAME_ID@|$identifier|g" -e "s|@NAME@|$name|g" -e "s|@ZEAL_PREFIX@|$prefix|g"
echo "$name: a new piece in $dir"
