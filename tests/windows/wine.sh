#!/bin/bash
# The Windows zip's programs under Wine, against the Linux build's: the
# example (200 iterations, and to convergence), a planar grid, a
# case name with an accent in a folder with one, a case name Windows cannot
# use, a three-grid study, and Ctrl-C (SIGINT, which Wine delivers to the
# program as the console's CTRL_C_EVENT) to a run and to a study.
# usage: tests/windows/wine.sh <linux-build-dir>   (after make windows)
set -euo pipefail
lin=$(realpath "$1")
# Unpacked where a user might: a folder name with a space and accents
# (templates found beside the programs, the study starting tubrix.exe).
. "$(dirname "$0")/prefixo.sh" "programas ação"
compara="python3 $root/tests/windows/compara.py"
fail() { echo "FALHOU: $*" >&2; exit 1; }
seconds() { printf '%d.%02d' $(($1 / 1000)) $(($1 % 1000 / 10)); }
echo "wineboot: $(seconds "$wineboot_ms") s"

run_linux() { (cd "$1" && TUBRIX_TEMPLATES="$root/templates" "$lin/tubrix" >/dev/null 2>&1) || true; }
# The Windows side finds its templates beside tubrix.exe, as from the zip.
# Each program under Wine is ended after five minutes (a run of these takes
# seconds), so that a hang fails the check with a message instead of CI.
limit=(timeout -k 10 300)
wine_t() { "${limit[@]}" wine "$@"; }
run_windows() {
  local st=0
  (cd "$1" && wine_t "$win/tubrix.exe" >/dev/null 2>&1) || st=$?
  [ "$st" != 124 ] && [ "$st" != 137 ] || fail "$1: tubrix.exe sem terminar em 300 s"
}
both() {
  local name=$1
  shift
  case_in "$work/l/$name" "$@"
  case_in "$work/w/$name" "$@"
  run_linux "$work/l/$name"
  run_windows "$work/w/$name"
}
restart_it() { python3 -c "import struct,sys; print(struct.unpack('<i', open(sys.argv[1],'rb').read()[2:6])[0])" "$1"; }

# The example and a planar grid: bit-identical up to the first last-bit
# difference of pow between glibc and the Windows build (iteration 115 of
# the example); the transient then spreads it, to 1e-9 of each field.
both it200 14=200
echo -n "exemplo, 200 iterações: "; $compara "$work/l/it200" "$work/w/it200" --tol 1e-9
both plano 14=60 2=0 3=120 4=60
echo -n "plano 120 x 60, 60 iterações: "; $compara "$work/l/plano" "$work/w/plano" --tol 1e-9

# A Latin-1 case name (as a Windows editor saves the data file) in a folder
# whose name has an accent: the same files, named alike.
case_in "$work/l/acento"
case_in "$work/w/Tubeira_água"
for d in "$work/l/acento" "$work/w/Tubeira_água"; do
  sed -i "1s/^'bocal'/'Tubeira_\xe1gua'/; 14s/^ *[0-9]*/20/" "$d/bocal.dat"
done
run_linux "$work/l/acento"
run_windows "$work/w/Tubeira_água"
echo -n "caso Tubeira_água: "; $compara "$work/l/acento" "$work/w/Tubeira_água" --tol 1e-9

# To convergence on Windows; then both builds for that many iterations (the
# same data files), and Linux one iteration further for the size of an
# iteration's change, which the difference between the builds stays below.
case_in "$work/w/conv"
t0=$(ms); run_windows "$work/w/conv"; tw=$(($(ms) - t0))
n=$(restart_it "$work/w/conv/bocal.bin")
both convn 13=0.0 14="$n"
case_in "$work/l/conv1" 13=0.0 14=$((n + 1))
t0=$(ms); run_linux "$work/l/conv1"; tl=$(($(ms) - t0))
echo "exemplo convergido em $n iterações (Wine $(seconds "$tw") s, Linux $(seconds "$tl") s)"
echo -n "  "; $compara "$work/l/convn" "$work/w/convn" --erro-iteracao "$work/l/conv1"

# A case name with a drive letter: exit 1, one message, nothing written.
case_in "$work/w/ruim" "1='C:bocal'"
before=$(ls -la --time-style=+%s.%N "$work/w/ruim" | md5sum)
set +e
(cd "$work/w/ruim" && wine_t "$win/tubrix.exe" >"$work/ruim.out" 2>"$work/ruim.err")
st=$?
set -e
[ "$st" = 1 ] || fail "caso C:bocal: estado $st, esperado 1"
[ "$(wc -l <"$work/ruim.err")" = 1 ] && grep -q 'item 1 (caso)' "$work/ruim.err" ||
  fail "caso C:bocal: mensagem: $(cat "$work/ruim.err")"
[ "$(ls -la --time-style=+%s.%N "$work/w/ruim" | md5sum)" = "$before" ] ||
  fail "caso C:bocal: a pasta mudou"
echo "caso C:bocal: estado 1, uma mensagem, nada gravado"

# An output marked read-only (as root, Wine would write it all the same).
case_in "$work/w/leitura" 14=5
run_windows "$work/w/leitura"
chmod a-w "$work/w/leitura/bocal.txt"
before=$(ls -la --time-style=+%s.%N "$work/w/leitura" | md5sum)
set +e
(cd "$work/w/leitura" && wine_t "$win/tubrix.exe" >/dev/null 2>"$work/leitura.err")
st=$?
set -e
[ "$st" = 1 ] && [ "$(wc -l <"$work/leitura.err")" = 1 ] && grep -q 'bocal.txt' "$work/leitura.err" ||
  fail "bocal.txt somente leitura: estado $st: $(cat "$work/leitura.err")"
[ "$(ls -la --time-style=+%s.%N "$work/w/leitura" | md5sum)" = "$before" ] ||
  fail "bocal.txt somente leitura: a pasta mudou"
echo "bocal.txt somente leitura: estado 1, uma mensagem, nada gravado"

# A three-grid study with the zip's tubrix-estudo.exe (and tubrix.exe).
grids="--malhas 10x6,20x12,40x24"
case_in "$work/l/estudo"
case_in "$work/w/estudo"
(cd "$work/l/estudo" && TUBRIX_TEMPLATES="$root/templates" "$lin/tubrix-estudo" $grids -j 2 \
  >/dev/null 2>&1) || true
(cd "$work/w/estudo" && wine_t "$win/tubrix-estudo.exe" $grids -j 2 >"$work/estudo.out" 2>&1) ||
  fail "estudo: $(tail -3 "$work/estudo.out")"
echo -n "estudo, estudo.csv: "
$compara "$work/l/estudo" "$work/w/estudo" --tol 1e-6 --arquivos estudo.csv

# Ctrl-C: the run ends after its iteration, writes its files, exits 130.
wait_for() { for _ in $(seq 1 300); do [ -e "$1" ] && return 0; sleep 0.1; done; return 1; }
case_in "$work/w/ctrlc" 13=0.0 14=1000000 23=1
(cd "$work/w/ctrlc" && exec "${limit[@]}" wine "$win/tubrix.exe" >"$work/ctrlc.out" 2>&1) &
pid=$!
wait_for "$work/w/ctrlc/bocal.itn" && sleep 2
kill -INT "$pid"
set +e
wait "$pid"
st=$?
set -e
[ "$st" = 130 ] || fail "Ctrl-C: estado $st, esperado 130"
n=$(restart_it "$work/w/ctrlc/bocal.bin")
grep -q "interrompida na iteração $n;" "$work/ctrlc.out" || fail "Ctrl-C: $(tail -2 "$work/ctrlc.out")"
echo "Ctrl-C (SIGINT -> CTRL_C_EVENT): estado 130, reinício gravado na iteração $n"

# Ctrl-C to the study reaches every run (CTRL_BREAK_EVENT to each group).
case_in "$work/w/estudo_c" 13=0.0 14=1000000
(cd "$work/w/estudo_c" && exec "${limit[@]}" wine "$win/tubrix-estudo.exe" --malhas 20x10,40x20 -j 2 \
  >"$work/estudo_c.out" 2>&1) &
pid=$!
wait_for "$work/w/estudo_c/20x10/bocal_20x10.itn" && wait_for "$work/w/estudo_c/40x20/bocal_40x20.itn"
sleep 2
kill -INT "$pid"
set +e
wait "$pid"
st=$?
set -e
[ "$st" = 130 ] || fail "Ctrl-C no estudo: estado $st, esperado 130: $(tail -3 "$work/estudo_c.out")"
for g in 20x10 40x20; do
  [ -s "$work/w/estudo_c/$g/bocal_$g.bin" ] || fail "Ctrl-C no estudo: $g sem reinício"
done
echo "Ctrl-C no estudo: estado 130, as duas execuções pararam com o reinício gravado"
echo "Wine: todos os testes passaram"
