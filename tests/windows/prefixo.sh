# Sourced by the Wine checks and the Wine benchmark (after make windows):
#   . tests/windows/prefixo.sh <folder name to unpack the zip into>
# A Wine prefix of its own in a temporary folder $work (removed on exit,
# with its server), headless; the zip unpacked into $work/<name>, its
# programs' folder in $win; case_in makes a case from the zip's example.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
zip=$(ls "$root"/tubrix-*-win64.zip)
work=$(mktemp -d)
export WINEPREFIX=$work/prefixo WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY TUBRIX_TEMPLATES
# Wine maps Unix file names through its locale's characters: in one without
# UTF-8 (the C locale of a minimal system) it cannot reach the accented
# folders, so it gets C.UTF-8's there.
[ "$(locale charmap 2>/dev/null)" = UTF-8 ] || export LC_ALL=C.UTF-8
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT

ms() { echo $(($(date +%s%N) / 1000000)); }
t0=$(ms)
wineboot -i >/dev/null 2>&1
wineboot_ms=$(($(ms) - t0))
python3 -c "import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])" "$zip" \
  "$work/$1"
win=$(echo "$work/$1"/tubrix-*-win64)

# case_in <folder> <item=value ...>: the zip's example, headless (sem_a = sem_g = 1)
case_in() {
  local dir=$1
  shift
  mkdir -p "$dir"
  cp "$win"/exemplo/* "$dir"/
  sed -i "25s/^ *[0-9]*/1/; 26s/^ *[0-9]*/1/" "$dir/bocal.dat"
  for set in "$@"; do sed -i "${set%%=*}s/^ *[^ ]*/${set#*=}/" "$dir/bocal.dat"; done
}
