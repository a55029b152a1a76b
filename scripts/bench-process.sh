#!/usr/bin/env bash
# Whole-process figures on the bench list (the IPv4 ranges of Debian's tor-geoipdb as
# CR LF blocklist lines, 385 602 ranges): each figure beside its goal and its baseline.
#   1. a bwdat:// link start of the console guard against cp of the same file (hyperfine)
#   2. peak resident memory of the console guard with the list loaded
#   3. one add and one remove, each with the atomic rewrite, and
#   4. a drop import of 100 000 entries with the list loaded: in the window, offscreen
#      (bench/window_timing), and in the core alone (bench/program_bench)
#   5. the window's first frame after the process starts (under Xvfb)
# Every process of the program runs in a private network namespace, so its guard never
# touches the machine's connections (the list covers nearly every public address), in a
# cgroup made for the run, so its kernel guard attaches there and not to the machine's
# root cgroup (a network namespace does not hold cgroup hooks back: the list would cut the
# whole machine off), and with HOME in a scratch folder, so the desktop's files are left
# alone. Run as root.
set -euo pipefail
refuse() {
  echo "bench-process: $*; the guard is not started" >&2
  exit 1
}
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BW_BUILD_DIR:-$root/build-bench}"
"$root/scripts/install-deps.sh" tor-geoipdb hyperfine x11-utils linux-perf
BW_BUILD_DIR="$build" "$root/scripts/build.sh" \
  -DBW_BUILD_BENCH=ON -DBW_BUILD_TESTS=OFF -DBW_BUILD_APP=ON -DCMAKE_BUILD_TYPE=Release

work="$(mktemp -d /tmp/bw-process-bench-XXXXXX)"
xvfb_pid=""
cgroup=""
home_cgroup=""
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  if [ -n "$cgroup" ]; then
    # Out of the bench cgroup first, then nothing left in it: a guard cut short by an
    # error keeps no kernel guard attached, and the folder can go.
    if echo $$ >"$home_cgroup/cgroup.procs"; then
      echo 1 >"$cgroup/cgroup.kill" 2>/dev/null || true
    fi
    for _ in $(seq 1 50); do
      rmdir "$cgroup" 2>/dev/null && break
      sleep 0.1
    done
    [ ! -d "$cgroup" ] || echo "bench-process: could not remove the cgroup $cgroup" >&2
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The bench cgroup, under the cgroup v2 mount; this shell moves in, so every process it
# starts is in it too. The mount is the one /proc/self/mountinfo lists as cgroup2
# (/sys/fs/cgroup, or /sys/fs/cgroup/unified on hybrid systems).
mount="$(awk '{ for (i = 7; i < NF; i++) if ($i == "-") { if ($(i + 1) == "cgroup2") { print $5; exit } break } }' \
  /proc/self/mountinfo)"
mount="$(printf '%b' "$mount")"  # mountinfo writes a space as \040
[ -n "$mount" ] || refuse "no cgroup v2 mount in /proc/self/mountinfo, so no cgroup of its own for the run"
home_cgroup="$mount$(sed -n 's/^0:://p' /proc/self/cgroup)"
[ -d "$home_cgroup" ] || refuse "cannot find this shell's own cgroup under $mount"
mkdir "$mount/bastionwatch-bench-$$" || refuse "cannot create the cgroup $mount/bastionwatch-bench-$$"
cgroup="$mount/bastionwatch-bench-$$"
echo $$ >"$cgroup/cgroup.procs" || refuse "cannot move into the cgroup $cgroup"
export BASTIONWATCH_CGROUP="$cgroup"
echo "bench cgroup: $BASTIONWATCH_CGROUP"

# Before every start of the program: never without the bench cgroup, since an empty
# BASTIONWATCH_CGROUP would hand the kernel guard the machine's root cgroup.
requireBenchCgroup() {
  [ -n "${BASTIONWATCH_CGROUP:-}" ] || refuse "BASTIONWATCH_CGROUP is empty"
  case "$BASTIONWATCH_CGROUP" in
  "$mount"/?*) ;;
  *) refuse "BASTIONWATCH_CGROUP ($BASTIONWATCH_CGROUP) is not a child cgroup under $mount" ;;
  esac
  grep -qx "0::/${BASTIONWATCH_CGROUP#"$mount"/}" /proc/$$/cgroup ||
    refuse "this script is not in the cgroup $BASTIONWATCH_CGROUP"
}
export HOME="$work/home"
mkdir -p "$HOME"

awk -F, 'function dotted(v) { return int(v / 16777216) "." int(v / 65536) % 256 "." int(v / 256) % 256 "." v % 256 }
         !/^#/ && NF >= 3 { printf "%s:%s-%s\r\n", $3, dotted($1), dotted($2) }' \
  /usr/share/tor/geoip >"$work/list.p2p"
echo "bench list: $(grep -c . "$work/list.p2p") lines, $(stat -c %s "$work/list.p2p") bytes"

# A program folder of its own for each program: the executable and the list beside it.
place() {  # folder executable
  mkdir -p "$work/$1"
  cp "$2" "$work/$1/"
  cp "$work/list.p2p" "$work/$1/Moatlist.P2P"
}
place guard "$build/src/headless/bastionwatch-headless"
guard="$work/guard/bastionwatch-headless"
# Where a build that looks elsewhere for its files is told to use the folder beside it.
export BASTIONWATCH_HOME="$work/guard"

echo
echo "== 1. Link start of the console guard (goal: at most 10 x cp of the file)"
requireBenchCgroup
hyperfine --warmup 2 --runs 15 --style basic \
  -n "cp of the list" "cp $work/list.p2p $work/copy.p2p" \
  -n "cp of the list, in a network namespace" "unshare -n cp $work/list.p2p $work/copy.p2p" \
  -n "cp of the list, then fsync (as the rewrite does)" "cp $work/list.p2p $work/copy.p2p && sync $work/copy.p2p" \
  -n "link start" "unshare -n $guard bwdat://bench@200.1.2.3:200.1.2.9"
echo "page faults and CPU time of one link start:"
unshare -n perf stat -e page-faults,task-clock "$guard" "bwdat://bench@200.1.2.3:200.1.2.9" 2>&1 |
  grep -E "page-faults|task-clock|elapsed"

echo
echo "== 2. Peak resident memory of the console guard with the list (goal: at most 60 MB)"
requireBenchCgroup
unshare -n "$guard" >"$work/guard.out" 2>&1 &
guard_pid=$!
for _ in $(seq 1 200); do
  grep -q "Successfully loaded" "$work/guard.out" && break
  sleep 0.05
done
sleep 0.5  # a few guard ticks
grep -E "Successfully loaded" "$work/guard.out" | head -1
grep -E "VmHWM|VmRSS" "/proc/$guard_pid/status"
kill -INT "$guard_pid"
wait "$guard_pid" || true

echo
echo "== 3 and 4. One add, one remove (goal: at most 100 ms each, rewrite included);"
echo "   drop import of 100 000 entries (goal: at most 2 s, linear in the entries)"
requireBenchCgroup
echo "in the window (offscreen):"
QT_QPA_PLATFORM=offscreen unshare -n "$build/bench/window_timing" 100000
echo "in the core alone:"
unshare -n "$build/bench/program_bench" --benchmark_counters_tabular=true

echo
echo "== 5. First frame of the window after the process start (goal: within 1 s)"
requireBenchCgroup
if [ -x "$build/src/app/bastionwatch" ]; then
  place window "$build/src/app/bastionwatch"
  export BASTIONWATCH_HOME="$work/window"
  display=":$((90 + RANDOM % 100))"
  Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 100); do xwininfo -display "$display" -root >/dev/null 2>&1 && break; sleep 0.05; done
  for run in 1 2 3; do
    start=$(date +%s%N)
    DISPLAY="$display" unshare -n "$work/window/bastionwatch" >/dev/null 2>&1 &
    window_pid=$!
    shown=""
    for _ in $(seq 1 2000); do
      if xwininfo -display "$display" -root -tree 2>/dev/null | grep -q '"Bastionwatch'; then
        shown=$(date +%s%N)
        break
      fi
      sleep 0.005
    done
    kill -TERM "$window_pid" 2>/dev/null || true
    wait "$window_pid" 2>/dev/null || true
    if [ -n "$shown" ]; then
      echo "run $run: window shown $(((shown - start) / 1000000)) ms after the process start"
    else
      echo "run $run: no window within 10 s"
    fi
  done
else
  echo "the window program was not built (BW_BUILD_APP=OFF?)"
fi
