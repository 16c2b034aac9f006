#!/usr/bin/env bash
# Builds what the benchmarks need and prints their table (Markdown) to
# standard output; progress goes to standard error. Run from anywhere:
#
#   bash bench/run.sh                 # about a minute on two cores
#   BENCH_QUICK=1 bash bench/run.sh   # fewer rounds, for a first look
#
# Needs cmake, g++ and GNU time (/usr/bin/time, Debian package `time`).
# Builds under build/bench-dynamic and build/bench-static; works in a
# temporary folder that it removes again. Nothing here is part of the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if ! /usr/bin/time -f %M true >/dev/null 2>&1; then
    echo "bench: GNU time is missing: apt-get install time" >&2
    exit 1
fi

jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))
for kind in dynamic static; do
    static=OFF
    [ "$kind" = static ] && static=ON
    echo "bench: building build/bench-$kind" >&2
    cmake -S . -B "build/bench-$kind" -DCMAKE_BUILD_TYPE=Release -DRXB540_BUILD_TESTS=OFF \
        -DRXB540_BUILD_BENCH=ON -DRXB540_STATIC=$static >/dev/null
    cmake --build "build/bench-$kind" -j"$jobs" \
        --target rxb540 rxb540-sim rxb540-spawn-timer rxb540-bench-hidraw >/dev/null
done
dynamic=$root/build/bench-dynamic
static=$root/build/bench-static
timer=$dynamic/bench/rxb540-spawn-timer

work=$(mktemp -d "${TMPDIR:-/tmp}/rxb540-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

if [ -n "${BENCH_QUICK:-}" ]; then
    scale=5
else
    scale=1
fi
# Rounds per size of host: more for the quick runs, so the medians settle.
rounds_for() {
    case $1 in
        0 | 10 | 100) echo $((201 / scale)) ;;
        1000) echo $((51 / scale)) ;;
        *) echo $((15 / scale + 2)) ;;
    esac
}

manufacturer=$(sed -n 's/^set(RXB540_MANUFACTURER "\([^"]*\)".*/\1/p' CMakeLists.txt)
last_serial=2000000002

# A simulated host of $1 interfaces: keyboards and mice, then two boards.
write_host() {
    awk -v n="$1" -v m="$manufacturer" 'BEGIN {
        boards = n < 2 ? n : 2
        for (i = 0; i < n - boards; i++) {
            if (i % 2 == 0)
                printf "vid=0x046d pid=0xc31c manufacturer=Logitech product=USB\\sKeyboard serial=K%d\n", i
            else
                printf "vid=0x1bcf pid=0x0005 manufacturer=PixArt product=USB\\sOptical\\sMouse serial=M%d\n", i
        }
        for (b = 1; b <= boards; b++)
            printf "vid=0x16c0 pid=0x05df manufacturer=%s product=RXB540 serial=200000000%d state=0\n", m, b
    }'
}

# Peak resident set of a command in KiB: the largest of three runs, each on a
# fresh copy of the host file.
peak_rss() {
    local host=$1 most=0 kib
    shift
    for _ in 1 2 3; do
        cp "$host" "$work/run.host"
        kib=$(RXB540_SIM_HOST="$work/run.host" /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1)
        [ "$kib" -gt "$most" ] && most=$kib
    done
    echo "$most"
}

# The timer's lines (one per command) as one line of fields.
timings() {
    "$timer" "$@" | tr '\n' ' '
    echo
}

ms() { awk -v ns="$1" 'BEGIN { printf "%.3f ms", ns / 1e6 }'; }
# (a - b) / n in µs; only from 1,000 interfaces on, where the difference
# stands well above the spread of process start-up.
us_per() { awk -v a="$1" -v b="$2" -v n="$3" 'BEGIN { if (n < 1000) print "–"; else printf "%.2f µs", (a - b) / n / 1e3 }'; }

load_before=$(cut -d' ' -f1-3 /proc/loadavg)

# 1. The simulated host.
echo "bench: simulated hosts" >&2
sim_rows=()
base_list=0
base_set=0
for n in 0 10 100 1000 10000; do
    write_host "$n" >"$work/host-$n"
    set_status=0
    [ "$n" -lt 2 ] && set_status=1
    export RXB540_SIM_HOST="$work/run.host"
    read -r list_ns _ _ set_ns _ _ < <(timings "$(rounds_for "$n")" \
        "@fresh=$work/host-$n,$work/run.host" "$dynamic/rxb540-sim" list :: \
        "@fresh=$work/host-$n,$work/run.host" "@status=$set_status" "$dynamic/rxb540-sim" set "$last_serial" 1)
    unset RXB540_SIM_HOST
    list_rss=$(peak_rss "$work/host-$n" "$dynamic/rxb540-sim" list)
    set_rss=$(peak_rss "$work/host-$n" "$dynamic/rxb540-sim" set "$last_serial" 1 || true)
    if [ "$n" -eq 0 ]; then
        base_list=$list_ns
        base_set=$set_ns
    fi
    note=""
    [ "$set_status" -ne 0 ] && note=" (no board: status 1)"
    sim_rows+=("| $n | $(ms "$list_ns") | $(us_per "$list_ns" "$base_list" "$n") | $list_rss KiB | $(ms "$set_ns")$note | $(us_per "$set_ns" "$base_set" "$n") | $set_rss KiB |")
    echo "bench:   $n interfaces done" >&2
done

# 2. rxb540 list on this host against /bin/true, started the same way.
echo "bench: start-up against /bin/true" >&2
start_rounds=$((401 / scale))
read -r true_ns _ _ dyn_ns _ _ static_ns _ _ < <(timings "$start_rounds" /bin/true :: \
    "$dynamic/rxb540" list :: "$static/rxb540" list)
rss_of() {
    local most=0 kib
    for _ in 1 2 3; do
        kib=$(/usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1)
        [ "$kib" -gt "$most" ] && most=$kib
    done
    echo "$most"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
size_of() { stat -c %s "$1" | awk '{ printf "%.0f KiB", $1 / 1024 }'; }
nodes=$(find /sys/class/hidraw -mindepth 1 -maxdepth 1 -name 'hidraw*' 2>/dev/null | wc -l)

# 3. Discovery over prepared hidraw entries, in one process.
echo "bench: prepared hidraw entries" >&2
hidraw_passes=$((31 / scale + 2))
mapfile -t hidraw_lines < <("$dynamic/bench/rxb540-bench-hidraw" "$work/tree" "$hidraw_passes" 0 10 100 1000)

load_after=$(cut -d' ' -f1-3 /proc/loadavg)

cat <<EOF
## Machine

- CPU: $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1), $(nproc) cores; memory $(free -g | awk '/^Mem:/ { print $2 }') GiB
- System: $(. /etc/os-release && echo "$PRETTY_NAME"), kernel $(uname -r), $(ldd --version | head -n 1 | sed 's/^ldd //'), $(g++ --version | head -n 1)
- Load average before / after: $load_before / $load_after; $(date -u +%Y-%m-%d)

## 1. rxb540-sim on simulated hosts (boards last)

Median wall time of $(rounds_for 0) runs (0–100 interfaces), $(rounds_for 1000) (1,000) and
$(rounds_for 10000) (10,000), list and set interleaved; every run on a fresh copy of the host
file. Per interface: the median less the median at 0 interfaces, divided by the interfaces
(from 1,000 on; below that the difference drowns in the spread of start-up). Peak RSS: GNU
time, largest of three runs.

| interfaces | list | list per interface | list peak RSS | set $last_serial 1 | set per interface | set peak RSS |
|---:|---:|---:|---:|---:|---:|---:|
$(printf '%s\n' "${sim_rows[@]}")

## 2. rxb540 list on this host ($nodes hidraw nodes) against /bin/true

Median of $start_rounds runs each, interleaved, all started the same way (posix_spawn, standard
streams on /dev/null).

| program | median | ratio to /bin/true | size | peak RSS |
|---|---:|---:|---:|---:|
| /bin/true | $(ms "$true_ns") | 1.00 | $(size_of /bin/true) | $(rss_of /bin/true) KiB |
| rxb540 list, dynamic (libc only) | $(ms "$dyn_ns") | $(ratio "$dyn_ns" "$true_ns") | $(size_of "$dynamic/rxb540") | $(rss_of "$dynamic/rxb540" list) KiB |
| rxb540 list, static PIE | $(ms "$static_ns") | $(ratio "$static_ns" "$true_ns") | $(size_of "$static/rxb540") | $(rss_of "$static/rxb540" list) KiB |

## 3. Discovery over prepared hidraw entries (Linux backend, one process)

Median of $hidraw_passes passes each; the last two entries are boards. "select" picks the last
board by serial number. Allocations and peak heap: one listing pass, C library included.

| entries | list pass | select pass | per entry (list) | allocations per pass | peak heap |
|---:|---:|---:|---:|---:|---:|
EOF
hidraw_base=0
for line in "${hidraw_lines[@]}"; do
    read -r count list_ns select_ns allocations peak <<<"$line"
    [ "$count" -eq 0 ] && hidraw_base=$list_ns
    echo "| $count | $(ms "$list_ns") | $(ms "$select_ns") | $(awk -v a="$list_ns" -v b="$hidraw_base" -v n="$count" 'BEGIN { if (n == 0) print "–"; else printf "%.2f µs", (a - b) / n / 1e3 }') | $allocations | $(awk -v b="$peak" 'BEGIN { printf "%.1f KiB", b / 1024 }') |"
done
