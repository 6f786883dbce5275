#!/usr/bin/env bash
# Runs the launcher under valgrind's memcheck on a private Xvfb: start-up,
# two seconds of the title (with stand-in children started and stopped),
# then Escape. Prints memcheck's summary and exits with 0 when memcheck
# reported no error of ours and the launcher ended with 0.
#
#   tests/valgrind/run.sh [build folder]     (default: build, a build without sanitizers)
#
# Leaks count as errors when they are definite or indirect; "possibly lost"
# and "still reachable" blocks are listed in the log but do not fail the run.
# Suppressions live in quorbel.supp beside this script; each names the system
# library it belongs to. The full log is kept in $QUORBEL_VALGRIND_LOG
# (default: <build>/valgrind/memcheck.log).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
launcher=$build/launcher/quorbel
standin=$build/tests/standins/quorbel_standin
for f in "$launcher" "$standin"; do
  [ -x "$f" ] || { echo "run.sh: $f is missing; build the targets quorbel and quorbel_standin" >&2; exit 2; }
done
if nm -C "$launcher" 2>/dev/null | grep -q __asan_init; then
  echo "run.sh: $launcher is built with AddressSanitizer; valgrind needs a plain build" >&2
  exit 2
fi
for tool in valgrind Xvfb xdotool; do
  command -v "$tool" >/dev/null || {
    echo "run.sh: $tool is not installed (scripts/install-deps.sh --valgrind)" >&2; exit 2; }
done

logdir=$build/valgrind
mkdir -p "$logdir"
log=${QUORBEL_VALGRIND_LOG:-$logdir/memcheck.log}
work=$(mktemp -d /tmp/quorbel-valgrind-XXXXXX)
xvfb_pid=
valgrind_pid=

cleanup() {
  [ -n "$valgrind_pid" ] && kill -KILL "$valgrind_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill -TERM "$xvfb_pid" 2>/dev/null || true
  # Stand-ins that the run left behind (none should be): their program files
  # lie in the work folder.
  for p in /proc/[0-9]*; do
    exe=$(readlink "$p/exe" 2>/dev/null || true)
    case "$exe" in "$work"/*) kill -KILL "${p#/proc/}" 2>/dev/null || true ;; esac
  done
  [ -n "$xvfb_pid" ] && wait "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A private X server on a display number it chooses itself.
fifo=$work/displayfd
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$fifo" >"$logdir/xvfb.log" 2>&1 &
xvfb_pid=$!
read -r -t 10 number <"$fifo" || { echo "run.sh: Xvfb reported no display" >&2; exit 2; }
export DISPLAY=:$number
unset WAYLAND_DISPLAY XAUTHORITY
for v in $(env | grep -o '^SDL_[A-Z_]*' || true); do unset "$v"; done

# The launcher with its stand-in children beside it.
play=$work/play
mkdir -p "$play"
cp "$launcher" "$play/quorbel"
cp "$standin" "$play/vsid.exe"
cp "$standin" "$play/x64.exe"
export QUORBEL_STANDIN_SECONDS=120

cd "$play"
valgrind --tool=memcheck --leak-check=full --show-leak-kinds=${QUORBEL_VALGRIND_LEAK_KINDS:-definite,indirect,possible} \
  --errors-for-leak-kinds=definite,indirect --track-origins=yes --num-callers=30 \
  --child-silent-after-fork=yes --error-exitcode=99 --suppressions="$here/quorbel.supp" --gen-suppressions=all \
  --log-file="$log" ./quorbel </dev/null >"$logdir/launcher.stdout" 2>"$logdir/launcher.stderr" &
valgrind_pid=$!

window=$(timeout 120 xdotool search --sync --onlyvisible --name '^Quorbel V0\.5$' | head -n 1) || {
  echo "run.sh: no launcher window within 120 s; see $log" >&2; exit 1; }
echo "window $window; the title runs for 2 s"
sleep 2
[ -f "$play/vsid.exe.record" ] || echo "run.sh: note: the tune player stand-in left no record" >&2

xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
xdotool keydown Escape
status=0
for _ in $(seq 600); do
  kill -0 "$valgrind_pid" 2>/dev/null || break
  sleep 0.1
done
xdotool keyup Escape || true
if kill -0 "$valgrind_pid" 2>/dev/null; then
  echo "run.sh: the launcher did not end within 60 s of Escape" >&2
  exit 1
fi
wait "$valgrind_pid" || status=$?
valgrind_pid=

echo "launcher exit code: $status (99: memcheck found errors)"
grep -E 'ERROR SUMMARY|definitely lost|indirectly lost|possibly lost|still reachable|suppressed:' "$log" || true
echo "full log: $log"
[ "$status" -eq 0 ]
