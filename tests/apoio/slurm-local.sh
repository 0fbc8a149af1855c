#!/bin/bash
# A throwaway one-node Slurm cluster (munged, slurmctld, slurmd) on this
# machine, for the tests that submit real batch jobs. Needs root and the
# Debian packages slurmctld, slurmd, slurm-client and munge; no systemd.
#
#   slurm-local.sh start|stop|status DIR
#
# Everything (config, munge key and socket, state, spool, logs) lives in DIR;
# /etc/slurm and /etc/munge are left alone. Clients need SLURM_CONF=DIR/slurm.conf.
# The daemons listen only on the loopback address this machine's name
# resolves to. SLURM_LOCAL_PORT (default 6817) is the controller's port, the
# node's is the next one. start exits with 77 where the cluster cannot run
# here (the name resolves to no loopback address, slurmd cannot start without
# cgroups), after one line saying why.
set -u

[ $# -eq 2 ] || { echo "usage: $0 start|stop|status DIR" >&2; exit 2; }
CMD=$1
D=$2
case $D in /?*) ;; *) echo "slurm-local: DIR must be an absolute path (got '$D')" >&2; exit 2 ;; esac
CONF=$D/slurm.conf
SOCK=$D/munge/munge.socket
PORT=${SLURM_LOCAL_PORT:-6817}
KILLWAIT=${SLURM_LOCAL_KILLWAIT:-10}
NODE=$(hostname -s)
export SLURM_CONF=$CONF

say() { echo "[slurm-local $(date +%T)] $*"; }
die() { say "erro: $*"; exit 1; }
skip() { say "ignorado: $*"; exit 77; }

alive() { local st; st=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null); [ -n "$st" ] && [ "$st" != Z ]; }

# The pid recorded in $1 when that process still runs under the name $2.
pid_of() {
  local p
  p=$(tr -dc 0-9 2>/dev/null < "$1") || return 0
  [ -n "$p" ] && alive "$p" || return 0
  case $(cat "/proc/$p/comm" 2>/dev/null) in $2*) echo "$p" ;; esac
}

# Polls "$@" every 0.2 s for up to $T seconds.
until_ok() {
  local end=$(( $(date +%s) + T ))
  until "$@" >/dev/null 2>&1; do
    [ "$(date +%s)" -lt "$end" ] || return 1
    sleep 0.2
  done
}

write_conf() {
  # The node as slurmd sees it; memory a little below it, or the node drains.
  local hw; hw=$(slurmd -C | head -1)
  local cpus sockets cores threads mem
  cpus=$(sed -n 's/.* CPUs=\([0-9]*\).*/\1/p' <<<"$hw")
  sockets=$(sed -n 's/.*SocketsPerBoard=\([0-9]*\).*/\1/p' <<<"$hw")
  cores=$(sed -n 's/.*CoresPerSocket=\([0-9]*\).*/\1/p' <<<"$hw")
  threads=$(sed -n 's/.*ThreadsPerCore=\([0-9]*\).*/\1/p' <<<"$hw")
  mem=$(( $(sed -n 's/.*RealMemory=\([0-9]*\).*/\1/p' <<<"$hw") * 9 / 10 ))
  # proctrack/pgid: a job's orphaned processes are still killed with it.
  # batch_sched_delay=0: a queued job starts as soon as a place is free.
  # EnforcePartLimits=ALL: what can never run is refused at submission
  # instead of waiting forever. No accounting database: finished jobs are
  # asked of slurmctld (MinJobAge keeps them for it).
  cat > "$CONF" <<EOF
ClusterName=local
SlurmctldHost=$NODE($ADDR)
SlurmctldPort=$PORT
SlurmdPort=$(( PORT + 1 ))
CommunicationParameters=NoCtldInAddrAny,NoInAddrAny
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$SOCK
StateSaveLocation=$D/state
SlurmdSpoolDir=$D/spool
SlurmctldPidFile=$D/slurmctld.pid
SlurmdPidFile=$D/slurmd.pid
SlurmctldLogFile=$D/log/slurmctld.log
SlurmdLogFile=$D/log/slurmd.log
ProctrackType=proctrack/pgid
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SchedulerType=sched/backfill
SchedulerParameters=batch_sched_delay=0
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
EnforcePartLimits=ALL
MpiDefault=none
ReturnToService=2
KillWait=$KILLWAIT
MinJobAge=600
InactiveLimit=0
MailProg=/bin/true
NodeName=$NODE NodeAddr=$ADDR CPUs=$cpus Boards=1 SocketsPerBoard=$sockets CoresPerSocket=$cores ThreadsPerCore=$threads RealMemory=$mem State=UNKNOWN
PartitionName=debug Nodes=$NODE Default=YES MaxTime=INFINITE State=UP
EOF
}

# The daemons detach from us; where PID 1 is no init their orphans would
# stay zombies and slurmd would drain the node ("Kill task failed"). So they
# are started below a perl child subreaper (prctl PR_SET_CHILD_SUBREAPER)
# that reaps whatever ends under it until it gets SIGTERM.
REAPER='
use POSIX ();
my ($pidfile, @cmd) = @ARGV;
my %nr = (x86_64 => 157, aarch64 => 167);
my $n = $nr{(POSIX::uname())[4]} or die "prctl: unknown machine\n";
syscall($n, 36, 1, 0, 0, 0) == 0 or die "prctl: $!\n";
$0 = "slurm-reaper";
open(my $f, ">", $pidfile) or die "$pidfile: $!\n"; print $f "$$\n"; close $f;
system(@cmd) == 0 or exit 1;
$SIG{TERM} = sub { exit 0 };
while (1) { sleep 1 if waitpid(-1, 0) <= 0; }
'

daemons() {
  mungekey --create --keyfile="$D/munge/munge.key" 2>/dev/null ||
    dd if=/dev/urandom of="$D/munge/munge.key" bs=1024 count=1 status=none
  chmod 0400 "$D/munge/munge.key"
  munged --key-file="$D/munge/munge.key" --socket="$SOCK" --pid-file="$D/munged.pid" \
    --log-file="$D/log/munged.log" --seed-file="$D/munge/seed" || return 1
  T=20 until_ok sh -c "munge -n -S '$SOCK' | unmunge -S '$SOCK'" || return 1
  slurmctld -f "$CONF" -i || return 1
  T=30 until_ok sh -c 'scontrol ping | grep -q "is UP"' || return 1
  slurmd -f "$CONF" || return 1
}

start() {
  [ "$(id -u)" = 0 ] || die "o Slurm local precisa de root"
  local b
  for b in munged mungekey slurmctld slurmd sbatch perl; do
    command -v $b >/dev/null || die "$b não encontrado (apt-get install slurmctld slurmd slurm-client munge)"
  done
  # With NoCtldInAddrAny and NoInAddrAny each daemon binds where this
  # machine's name resolves (127.0.1.1 as Debian's installer maps it), so
  # the clients must dial that address too.
  ADDR=$(getent ahostsv4 "$(hostname)" | awk 'NR == 1 { print $1 }')
  [ -n "$ADDR" ] || skip "o nome desta máquina ($(hostname)) não resolve para um endereço (/etc/hosts)"
  case $ADDR in
    127.*) ;;
    *) skip "o nome desta máquina ($(hostname)) resolve para $ADDR, fora do loopback: o Slurm local escutaria na rede" ;;
  esac
  # slurmd starts its cgroup plugin whatever the config asks (Slurm 22.05):
  # cgroup v2, or v1 under a tmpfs, must be mounted there.
  case $(stat -f -c %T /sys/fs/cgroup 2>/dev/null) in
    cgroup2fs | tmpfs) ;;
    *) skip "nenhum sistema de cgroups montado em /sys/fs/cgroup: o slurmd não inicia (um contêiner?)" ;;
  esac
  stop >/dev/null 2>&1
  rm -rf "$D"
  mkdir -p "$D/log" "$D/state" "$D/spool" "$D/munge"
  chmod 0755 "$D" "$D/log" "$D/munge"   # munged wants its socket folder 0755
  write_conf
  local t0; t0=$(date +%s.%N)
  export -f daemons until_ok
  export D CONF SOCK
  setsid perl -e "$REAPER" "$D/reaper.pid" bash -c daemons </dev/null >"$D/log/start.log" 2>&1 &
  local starter=$!
  if ! T=60 until_ok sh -c "[ \"\$(sinfo -h -N -n '$NODE' -o %T)\" = idle ]"; then
    cat "$D/log/start.log" >&2
    sinfo -N -l >&2
    tail -n 20 "$D"/log/slurm*.log >&2
    stop
    local why; why=$(grep -m1 -i "error:.*cgroup" "$D/log/slurmd.log" 2>/dev/null)
    [ -z "$why" ] || skip "o slurmd não inicia sem os cgroups de que precisa (${why#*error: })"
    die "o nó $NODE não ficou livre; veja $D/log"
  fi
  disown "$starter" 2>/dev/null
  say "Slurm $(sinfo --version | awk '{print $2}') no ar em $(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN{printf "%.1f", b-a}') s ($CONF)"
}

# Ends exactly what start began: jobs first, so no job outlives slurmd.
stop() {
  local p n name
  if [ -n "$(pid_of "$D/slurmctld.pid" slurmctld)" ]; then
    if [ -n "$(squeue -h -o %i 2>/dev/null)" ]; then
      scancel --full --signal=KILL -u root 2>/dev/null
      scancel -u root 2>/dev/null
      T=$(( KILLWAIT + 20 )) until_ok sh -c '[ -z "$(squeue -h -o %i)" ]' ||
        say "jobs ainda na fila: $(squeue -h -o '%i %T' | tr '\n' ' ')"
    fi
  fi
  for name in slurmd slurmctld munged reaper; do
    case $name in reaper) p=$(pid_of "$D/reaper.pid" slurm-reaper) ;;
                  *) p=$(pid_of "$D/$name.pid" "$name") ;; esac
    [ -n "$p" ] || continue
    kill -TERM "$p" 2>/dev/null
    for n in $(seq 50); do alive "$p" || break; sleep 0.2; done
    [ "$n" -lt 50 ] || kill -KILL "$p" 2>/dev/null
  done
  say "Slurm local parado"
}

case $CMD in
  start) start ;;
  stop) stop ;;
  status) for n in munged slurmctld slurmd; do echo "$n: $(pid_of "$D/$n.pid" "$n")"; done
          sinfo 2>/dev/null ;;
  *) echo "usage: $0 start|stop|status DIR" >&2; exit 2 ;;
esac
