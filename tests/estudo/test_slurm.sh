#!/bin/bash
# The study with --slurm against a real one-node Slurm started here: the
# same estudo.csv as the local study, a cancelled study resumed, jobs
# submitted without waiting and collected by a second call, what Slurm
# refuses reported, a family, and the Cauchy rule applied by the jobs' runs
# (the same report as the local study's). The cluster is stopped however the
# test ends.
#
#   test_slurm.sh TUBRIX-ESTUDO SOURCE-DIR WORK-DIR GRIDS
# GRIDS: three grids, the finest named last, whose finest run lasts a second
# or more (so Ctrl-C comes while it runs).
# Exit 77 (skipped) without root, without the Slurm packages, or where the
# one-node cluster cannot run (slurm-local.sh says why).
set -u
EST=$1
SRC=$2
WORK=$3
GRIDS=$4
FINE=${GRIDS##*,}
SLURM_LOCAL=$SRC/tests/apoio/slurm-local.sh

if [ "$(id -u)" != 0 ]; then echo "ignorado: o Slurm local precisa de root"; exit 77; fi
for c in slurmctld slurmd sbatch munged perl; do
  command -v $c >/dev/null || { echo "ignorado: falta $c (make deps-test instala)"; exit 77; }
done

rm -rf "$WORK"
mkdir -p "$WORK"
# A short path: munged's socket name must fit a socket address (108 bytes).
CLUSTER=$(mktemp -d /tmp/tx-slurm.XXXXXX) || exit 1
study_pid=
finish() {
  [ -n "$study_pid" ] && kill -TERM "$study_pid" 2>/dev/null && wait "$study_pid" 2>/dev/null
  "$SLURM_LOCAL" stop "$CLUSTER"
  if [ "${failed:-1}" = 0 ]; then rm -rf "$CLUSTER"; else echo "registros do Slurm em $CLUSTER/log"; fi
}
trap finish EXIT
trap 'exit 1' INT TERM

t0=$(date +%s.%N)
"$SLURM_LOCAL" start "$CLUSTER"
case $? in 0) ;; 77) failed=0; exit 77 ;; *) exit 1 ;; esac  # 77: nothing ran, no logs to keep
export SLURM_CONF=$CLUSTER/slurm.conf
export TUBRIX_TEMPLATES=$SRC/templates
unset TUBRIX_THREADS

passed=0 failed=0
check() {  # description, then the command that must succeed
  local what=$1; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FALHOU: $what"; fi
}
has() { grep -q -- "$2" "$1"; }
# A case whose finest grid runs for a second or two, printing every 10 iterations.
new_case() {
  mkdir -p "$1" && cd "$1" || exit 1
  printf "1\r\n" > Tubrix_5p5.in
  printf "'caso.dat'\r\n" > Tubrix_5p5.ent
  local n=0 v
  for v in "'caso'" 1 20 8 3.0e6 3000.0 1.4 287.0 1.0e-6 1.0e-5 10 40 1.0e-7 20000 2 1.0e-3 \
           1.0e-3 10 50 0.0 1 0 10 1 1 1 "'PC de teste'" "'Tubeira de teste'"; do
    n=$((n + 1)); printf "%s   item %d\r\n" "$v" $n
  done > caso.dat
}
show() { echo "--- $1"; grep -v "Itera" "$1" | tail -n 25; }

# The reference: the same study run locally.
new_case "$WORK/local"
"$EST" --malhas $GRIDS -j 3 > out.log 2> err.log
check "estudo local" [ $? = 0 ]
REF=$WORK/local/estudo.csv
# A run continued from its restart file repeats the uninterrupted run's bits
# with the scaled step in this case, not with the study's doubled dt2: the
# stopped and resumed study (2.) is compared with one at the scaled step.
new_case "$WORK/local-escalado"
"$EST" --malhas $GRIDS -j 3 --dt-escalado > out.log 2> err.log
check "estudo local --dt-escalado" [ $? = 0 ]
REF_ESC=$WORK/local-escalado/estudo.csv

# 1. Each grid a job: the same CSV; a job named after case and grid, with
# one CPU (TUBRIX_THREADS unset) and the user's options (quoted words kept
# whole), its console output kept in its folder.
new_case "$WORK/slurm"
"$EST" --malhas $GRIDS --slurm --sbatch "--comment='estudo de teste'" > out.log 2> err.log
rc=$?
check "estudo --slurm termina com 0 (saiu $rc)" [ $rc = 0 ] || { show out.log; show err.log; }
check "estudo --slurm: mesmo estudo.csv do local" cmp -s estudo.csv "$REF"
job=$(sed -n "s/^\[$FINE\] job \([0-9]*\) submetido.*/\1/p" out.log)
check "job da malha $FINE anunciado" [ -n "$job" ]
check "nome, CPUs e opções do job" sh -c "scontrol show job -o '$job' |
  grep 'JobName=caso_$FINE ' | grep 'CPUs/Task=1 ' | grep -q 'Comment=estudo de teste'"
check "saída do job na pasta da malha" has "$FINE/tubrix-$job.out" "Fim: "
check "situação final sem job pendente" has $FINE/caso_$FINE.estudo $'^job = \r$'
check "relatório diz que usou o Slurm" has estudo.txt "jobs do Slurm"

# 2. Ctrl-C once the finest run is under way: its job gets SIGTERM in the
# run itself, which writes its restart file; the study exits 130. Run
# again, the unfinished grids continue and the result is the same.
new_case "$WORK/parado"
"$EST" --malhas $GRIDS --slurm --dt-escalado > out1.log 2> err1.log &
study_pid=$!
for _ in $(seq 600); do grep -qs "Itera" $FINE/tubrix-*.out && break; sleep 0.05; done
kill -INT "$study_pid"
wait "$study_pid"
rc=$?
study_pid=
check "estudo interrompido sai com 130 (saiu $rc)" [ $rc = 130 ] || { show out1.log; show err1.log; }
check "malha $FINE interrompida" has $FINE/caso_$FINE.estudo "interrompida"
check "reinício da malha $FINE gravado" [ -f $FINE/caso_$FINE.bin ]
check "o run recebeu o sinal" has err1.log "\[$FINE\] Execu.* interrompida na itera"
check "nenhum job do estudo ficou na fila" [ -z "$(squeue -h)" ]
check "sem relatório" [ ! -e estudo.txt ]
"$EST" --malhas $GRIDS --slurm --dt-escalado > out2.log 2> err2.log
rc=$?
check "estudo retomado termina com 0 (saiu $rc)" [ $rc = 0 ] || { show out2.log; show err2.log; }
check "malha $FINE continua do reinício" has out2.log "\[$FINE\] job [0-9]* submetido (continua da itera"
check "estudo retomado: mesmo estudo.csv do local" cmp -s estudo.csv "$REF_ESC"

# 3. --sem-esperar submits and returns with the job ids; a local study
# refuses the folder while its jobs are out; the next --slurm call follows
# the same jobs (none submitted again) and extrapolates.
new_case "$WORK/sem-esperar"
"$EST" --malhas $GRIDS --slurm --sem-esperar > out1.log 2> err1.log
rc=$?
check "--sem-esperar sai com 0 (saiu $rc)" [ $rc = 0 ] || { show out1.log; show err1.log; }
job=$(sed -n "s/^\[$FINE\] job \([0-9]*\) submetido.*/\1/p" out1.log)
check "relatório com os jobs" has estudo.txt "Malha $FINE: job $job"
check "situação guarda o job" has $FINE/caso_$FINE.estudo "^job = $job"
"$EST" --malhas $GRIDS > out2.log 2> err2.log
rc=$?
check "estudo local recusa jobs não recolhidos (saiu $rc)" [ $rc = 1 ]
check "mensagem nomeia malha e job" has err2.log "malha $FINE tem o job $job do Slurm"
"$EST" --malhas $GRIDS --slurm > out3.log 2> err3.log
rc=$?
check "segunda chamada recolhe e sai com 0 (saiu $rc)" [ $rc = 0 ] || { show out3.log; show err3.log; }
check "segunda chamada acompanha o mesmo job" has out3.log "\[$FINE\] job $job já submetido"
check "segunda chamada não submete" sh -c "! grep -v 'já submetido' out3.log | grep -q submetido"
check "recolhido: mesmo estudo.csv do local" cmp -s estudo.csv "$REF"

# 4. What Slurm refuses: a bad partition is caught before any folder is
# made; a job that can never start is cancelled and named; without sbatch
# on PATH the study says so.
new_case "$WORK/recusado"
"$EST" --malhas $GRIDS --slurm --sbatch "--partition=nenhuma" > out.log 2> err.log
rc=$?
check "partição inexistente sai com 1 (saiu $rc)" [ $rc = 1 ]
check "mensagem nomeia a malha e o que o Slurm disse" has err.log "malha $FINE (.*partition"
check "nenhuma pasta de malha criada" sh -c "! ls -d [0-9]*x[0-9]* 2>/dev/null"
fail=$(sbatch --parsable --wrap=false -o /dev/null)
for _ in $(seq 100); do scontrol show job -o "$fail" | grep -q JobState=FAILED && break; sleep 0.1; done
"$EST" --malhas $GRIDS --slurm --sbatch "--dependency=afterok:$fail" > out.log 2> err.log
rc=$?
check "job que nunca começa sai com 1 (saiu $rc)" [ $rc = 1 ]
check "mensagem nomeia malha e motivo" has err.log "malha $FINE nunca vai começar (Slurm: Reason=DependencyNeverSatisfied)"
check "job cancelado" [ -z "$(squeue -h -n caso_$FINE)" ]
"$EST" --malhas $GRIDS --slurm --sbatch "--comment='sem fim" > out.log 2> err.log
check "aspas sem fechar em --sbatch" has err.log "argumento --sbatch: aspas ' sem fechar"
PATH=/nonexistent "$EST" --malhas $GRIDS --slurm > out.log 2> err.log
rc=$?
check "sem sbatch sai com 1 (saiu $rc)" [ $rc = 1 ]
check "mensagem sobre o sbatch" has err.log "sbatch do Slurm não está no PATH"

# 5. A family: every grid of every variant a job, all submitted at once; the
# same familia.csv as the family run locally.
for d in familia-local familia; do
  new_case "$WORK/$d"
  printf "variante;gama\r\ng1.4;1,4\r\ng1.3;1,3\r\n" > t.csv
done
cd "$WORK/familia-local" && "$EST" --familia t.csv --malhas $GRIDS -j 3 > out.log 2> err.log
check "família local" [ $? = 0 ]
cd "$WORK/familia" && "$EST" --familia t.csv --malhas $GRIDS --slurm > out.log 2> err.log
rc=$?
check "família --slurm termina com 0 (saiu $rc)" [ $rc = 0 ] || { show out.log; show err.log; }
check "um job por malha de cada variante" [ "$(grep -c '^\[g1\.[34]/[0-9x]*\] job [0-9]* submetido' out.log)" = 6 ]
check "família --slurm: mesmo familia.csv do local" cmp -s familia.csv "$WORK/familia-local/familia.csv"

# 6. The Cauchy rule: each job's run applies it itself (TUBRIX_CAUCHY in
# its batch script) and stops where a local run stops, so the report and the
# grids' status files are the local study's, line for line (times aside:
# the study's time line, the grids' time column and "tempo (s)").
CAUCHY="--cauchy 1e-5 --janela 200"
mask() { sed -E -e '/^Tempo desta/d' -e '/^tempo \(s\) = /d' \
                -e 's/^( *[0-9]+x[0-9]+ .*[^ ]) +[0-9]+\.[0-9]{2}\r$/\1\r/' "$1"; }
same_masked() { cmp -s <(mask "$1") <(mask "$2"); }
new_case "$WORK/cauchy-local"
"$EST" --malhas $GRIDS -j 3 $CAUCHY > out.log 2> err.log
check "estudo local --cauchy" [ $? = 0 ]
check "a regra de Cauchy parou uma malha" has estudo.txt "convergiu pela regra de Cauchy"
new_case "$WORK/cauchy"
"$EST" --malhas $GRIDS --slurm $CAUCHY > out.log 2> err.log
rc=$?
check "estudo --slurm --cauchy termina com 0 (saiu $rc)" [ $rc = 0 ] || { show out.log; show err.log; }
check "script do job passa a regra" has $FINE/tubrix.sbatch "^export TUBRIX_CAUCHY='1e-05 200'"
check "o run do job parou pela regra" has out.log "^\[[0-9x]*\] Regra de Cauchy: parada na itera"
check "estudo --slurm --cauchy: mesmo estudo.txt do local" same_masked estudo.txt "$WORK/cauchy-local/estudo.txt" ||
  diff <(mask estudo.txt) <(mask "$WORK/cauchy-local/estudo.txt") | head -20
for g in ${GRIDS//,/ }; do
  check "situação da malha $g igual à local" same_masked $g/caso_$g.estudo "$WORK/cauchy-local/$g/caso_$g.estudo"
done

echo "Slurm $(sinfo --version | awk '{print $2}'): $(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN{printf "%.1f", b-a}') s com o início do cluster"
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
