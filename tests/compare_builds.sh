#!/bin/bash
# Runs one case with two builds of tubrix (optimised and debug, or one build
# on one thread and on all cores) and checks that they write the same bytes:
# every output file except the run-time readings (the date line, the
# CPU-time values and the stored run time).
# usage: compare_builds.sh <tubrix-a> <tubrix-b> <case-folder> [iterations] [item=value ...]
#   item=value sets further items of the case data by number or name (e.g.
#   2=0 3=160 4=80, or coord=0 nx=160 ny=80, for a planar grid of 160 x 80;
#   an optional item just past the file's last line is added: esquema="'ordem2'");
#   THREADS_A and THREADS_B in the environment set
#   TUBRIX_THREADS for each side.
set -euo pipefail
a=$(realpath "$1"); b=$(realpath "$2"); case_dir=$(realpath "$3"); iters=${4:-200}
shift $(( $# < 4 ? $# : 4 ))
# Line of an item in the data file, from its number or its name in the items table.
items_table="$(dirname "$(realpath "$0")")/../src/caso/itens.cpp"
line_of() {
  case "$1" in
    *[!0-9]*) sed -n "s/^[ {]*\([0-9]*\), \"$1\",.*/\1/p" "$items_table" ;;
    *) echo "$1" ;;
  esac
}
for set in "$@"; do
  [ -n "$(line_of "${set%%=*}")" ] || { echo "unknown item: ${set%%=*}" >&2; exit 2; }
done
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
for side in a b; do
  mkdir "$root/$side"
  cp "$case_dir"/* "$root/$side/"
  data=$(head -n1 "$root/$side/Tubrix_5p5.ent" | tr -d "'\"\r" | awk '{print $1}')
  # fewer iterations (item 14) and no editor or plot windows
  sed -i "$(line_of itmax)s/^ *[0-9]*/$iters/; $(line_of sem_a)s/^ *[0-9]*/1/; $(line_of sem_g)s/^ *[0-9]*/1/" \
    "$root/$side/$data"
  for set in "$@"; do
    n=$(line_of "${set%%=*}")
    # an optional item the file does not give yet (esquema after parede)
    if [ "$(wc -l < "$root/$side/$data")" -lt "$n" ]; then echo "x" >> "$root/$side/$data"; fi
    sed -i "${n}s/^ *[^ ]*/${set#*=}/" "$root/$side/$data"
  done
done
(cd "$root/a" && TUBRIX_THREADS=${THREADS_A:-} TUBRIX_TEMPLATES="$case_dir/../../templates" "$a" >/dev/null)
(cd "$root/b" && TUBRIX_THREADS=${THREADS_B:-} TUBRIX_TEMPLATES="$case_dir/../../templates" "$b" >/dev/null)
status=0
for f in "$root"/a/*; do
  name=$(basename "$f")
  case "$name" in
    *.txt)
      diff <(grep -a -v -e 'Dia = ' -e 'CPU' "$f") <(grep -a -v -e 'Dia = ' -e 'CPU' "$root/b/$name") \
        >/dev/null || { echo "differs: $name"; status=1; } ;;
    *.bin)
      # bytes 15..22 hold the run time
      cmp -s <(head -c 14 "$f") <(head -c 14 "$root/b/$name") &&
        cmp -s <(tail -c +23 "$f") <(tail -c +23 "$root/b/$name") ||
        { echo "differs: $name"; status=1; } ;;
    *.Extrapolix_3p0)
      diff <(grep -a -v -i 'cpu' "$f") <(grep -a -v -i 'cpu' "$root/b/$name") >/dev/null ||
        { echo "differs: $name"; status=1; } ;;
    *) cmp -s "$f" "$root/b/$name" || { echo "differs: $name"; status=1; } ;;
  esac
done
[ "$status" = 0 ] && echo "both runs wrote the same results ($(ls "$root/a" | wc -l) files; $*)"
exit $status
