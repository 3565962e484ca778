#!/usr/bin/env bash
# Runs a command inside private mount and network namespaces, where the service's fixed
# directories and port are real but belong to this run alone, so that runs never touch
# the machine's directories and can run side by side.
#
#   run-in-namespace.sh STAGE -- COMMAND [ARGS...]      (as root)
#
# STAGE is a directory of this run (not under /opt or /var). Inside the namespaces:
#   - the loopback interface is up; nothing else is reachable;
#   - /opt and /var are overlaid with a layer kept in memory, so whatever the command
#     writes there disappears with the run;
#   - /opt/tolvexserver, /var/log/tolvexserver and /var/www/ostrel are STAGE/root/opt/
#     tolvexserver, STAGE/root/var/log/tolvexserver and STAGE/root/var/www/ostrel,
#     bound in place: files put there before the run are seen by the command, and what
#     it writes there stays readable after the run;
#   - with TVX_STANDIN set (the tvx_standin program), the stand-in data server listens on
#     127.0.0.1:9002 with the extra flags of TVX_STANDIN_ARGS, reports on
#     STAGE/standin.jsonl, records frames in STAGE/standin.frames and reads commands
#     written to the FIFO STAGE/standin.cmd;
#   - with TVX_KAFKAMOCK set (the tvx_kafkamock program), the Kafka mock cluster runs with
#     the flags of TVX_KAFKAMOCK_ARGS, answers on STAGE/kafka.out and reads commands
#     written to the FIFO STAGE/kafka.cmd; "@KAFKA_BOOTSTRAP@" in the files of
#     /opt/tolvexserver/conf is replaced by its bootstrap address;
#   - TVX_SETUP, when set, is run by bash after all that (to break a directory, say);
#   - then STAGE/ready is created and COMMAND runs with this script's standard input and
#     output. Its exit code is written to STAGE/exit-code and is this script's exit code.
# Exit codes of the script itself: 125 when the namespaces cannot be set up.
set -euo pipefail

if [ -z "${TVX_IN_NAMESPACE:-}" ]; then
  TVX_IN_NAMESPACE=1 exec unshare --mount --net --propagation private -- "$0" "$@"
fi

fail() { echo "run-in-namespace: $*" >&2; exit 125; }

[ $# -ge 3 ] && [ "$2" = "--" ] || fail "usage: run-in-namespace.sh STAGE -- COMMAND [ARGS...]"
stage=$(realpath "$1")
shift 2
case "$stage/" in /opt/*|/var/*) fail "the stage must lie outside /opt and /var: $stage" ;; esac

# Waits up to 10 s for FILE to hold a line matching PATTERN.
wait_for_line() {
  for _ in $(seq 200); do
    grep -q -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.05
  done
  fail "no '$2' in $1"
}

ip link set lo up || fail "cannot bring up the loopback interface"

scratch="$stage/.scratch"
mkdir -p "$scratch"
mount -t tmpfs tvx-scratch "$scratch" || fail "cannot mount a tmpfs"
for top in /opt /var; do
  mkdir -p "$scratch$top/upper" "$scratch$top/work"
  mount -t overlay tvx-overlay -o "lowerdir=$top,upperdir=$scratch$top/upper,workdir=$scratch$top/work" "$top" \
    || fail "cannot overlay $top"
done
for dir in /opt/tolvexserver /var/log/tolvexserver /var/www/ostrel; do
  mkdir -p "$stage/root$dir" "$dir"
  mount --bind "$stage/root$dir" "$dir" || fail "cannot bind $dir"
done

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

if [ -n "${TVX_KAFKAMOCK:-}" ]; then
  mkfifo "$stage/kafka.cmd"
  exec 4<>"$stage/kafka.cmd"
  # shellcheck disable=SC2086 # the extra flags are words
  "$TVX_KAFKAMOCK" --die-with-parent ${TVX_KAFKAMOCK_ARGS:-} <&4 >"$stage/kafka.out" 2>"$stage/kafka.err" &
  pids+=($!)
  echo sync >&4
  wait_for_line "$stage/kafka.out" "^ok sync"
  bootstrap=$(sed -n 's/^bootstrap //p' "$stage/kafka.out")
  find /opt/tolvexserver/conf -type f -exec sed -i "s|@KAFKA_BOOTSTRAP@|$bootstrap|g" {} + 2>/dev/null || true
fi

if [ -n "${TVX_STANDIN:-}" ]; then
  mkfifo "$stage/standin.cmd"
  exec 3<>"$stage/standin.cmd"
  # shellcheck disable=SC2086
  "$TVX_STANDIN" --port 9002 --record "$stage/standin.frames" --die-with-parent ${TVX_STANDIN_ARGS:-} \
    <&3 >"$stage/standin.jsonl" 2>"$stage/standin.err" &
  pids+=($!)
  wait_for_line "$stage/standin.jsonl" '"event":"listening"'
fi

if [ -n "${TVX_SETUP:-}" ]; then
  bash -c "$TVX_SETUP" || fail "the setup commands failed"
fi

touch "$stage/ready"
set +e
setpriv --pdeathsig KILL -- "$@" 3<&- 4<&-
code=$?
set -e
echo "$code" >"$stage/exit-code"
exit "$code"
