#!/bin/sh
# Month-end runs of the real program (bench/monthend.py): all messages in the
# spool before the agent starts, delivered by the headless agent; then a long
# run for the agent's memory and idle agents (bench/idle.py). With
# BASELINE=<bin folder of another build>, that build's agent and this one's
# run in turn for each kind of run, the order swapped at every round, and a
# summary gives the medians side by side (bench/monthend_summary.py).
# Usage: bench/monthend.sh [BUILD_DIR]
#   MONTHEND=<n>         messages of each run (5,000)
#   MONTHEND_LIMIT=<s>   seconds after which a run stops and reports the rate reached (150)
#   MONTHEND_ROUNDS=<n>  rounds of the runs of each kind (2)
#   MEMORY_MESSAGES=<n>  messages of the memory run, RSS taken at 1,000 and at the end (10,000; 0: none)
#   IDLE_SECONDS=<s>     how long the idle agents are watched (300; 0: not run)
#   MONTHEND_WORK=<dir>  where the runs' installations go (BUILD_DIR/bench-data)
# Each run gets a folder of its own, and all are removed at the end: removing
# one run's tens of thousands of files just before the next run would make
# that run pay for them (a file system without a journal, such as ext4
# without one, looks past every inode freed in the last minutes each time it
# makes a file), and the builds would not be measured alike.
set -e
run() { "$@" || echo "  (exit status $?)"; }
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
bin=$build/bin
data=$build/bench-data
mkdir -p "$data"
monthend_n=${MONTHEND:-5000}
monthend_limit=${MONTHEND_LIMIT:-150}
rounds=${MONTHEND_ROUNDS:-2}
memory_n=${MEMORY_MESSAGES:-10000}
idle_s=${IDLE_SECONDS:-300}
results=$data/monthend-results.jsonl
rm -f "$results"
work=${MONTHEND_WORK:-$data}/monthend.$$
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
seq=0
monthend() {  # label program kind agents [more options]
    label=$1 prog=$2 kind=$3 agents=$4
    shift 4
    seq=$((seq + 1))
    run /usr/bin/python3 "$here/bench/monthend.py" --bin "$prog" --source "$here" --work "$work/$seq" \
        --messages "$monthend_n" --limit "$monthend_limit" --kind "$kind" --agents "$agents" --label "$label" --keep \
        --results "$results" "$@"
}
have_baseline() { [ -n "$BASELINE" ] && [ -x "$BASELINE/velarion" ]; }
# Runs a kind on this build and the baseline's, the baseline first in odd rounds.
monthend_side_by_side() {  # round kind agents
    if ! have_baseline; then
        monthend "" "$bin/velarion" "$2" "$3"
    elif [ $(($1 % 2)) -eq 1 ]; then
        monthend old: "$BASELINE/velarion" "$2" "$3"
        monthend new: "$bin/velarion" "$2" "$3"
    else
        monthend new: "$bin/velarion" "$2" "$3"
        monthend old: "$BASELINE/velarion" "$2" "$3"
    fi
}
i=1
while [ $i -le "$rounds" ]; do
    echo "== Round $i of $rounds"
    echo "== Month-end run: $monthend_n one-page invoices (sample installation's invoice style: overlay, picture, barcodes) by one headless agent to a loopback SMTP server (each run stops after $monthend_limit s)"
    monthend_side_by_side $i invoice 1
    echo "== The same invoices saved through the compose form into a maildir of drafts"
    monthend_side_by_side $i drafts 1
    echo "== The same invoices, two agents on one spool"
    monthend_side_by_side $i invoice 2
    echo "== $monthend_n messages without attachments by SMTP, one agent"
    monthend_side_by_side $i plain 1
    i=$((i + 1))
done
if [ "$memory_n" -gt 0 ]; then
    echo "== Memory: $memory_n messages without attachments by one agent, its RSS at 1,000 and at the end"
    if have_baseline; then
        monthend old: "$BASELINE/velarion" plain 1 --messages "$memory_n" --rss-at 1000 --no-shares
    fi
    monthend "${BASELINE:+new:}" "$bin/velarion" plain 1 --messages "$memory_n" --rss-at 1000 --no-shares
fi
if [ "$idle_s" -gt 0 ]; then
    echo "== Idle agents (Timing 500, empty spool) watched together for $idle_s s"
    if have_baseline; then
        run /usr/bin/python3 "$here/bench/idle.py" --source "$here" --work "$data/idle" --seconds "$idle_s" \
            --results "$results" old:="$BASELINE/velarion" new:="$bin/velarion"
    else
        run /usr/bin/python3 "$here/bench/idle.py" --source "$here" --work "$data/idle" --seconds "$idle_s" \
            --results "$results" ="$bin/velarion"
    fi
fi
/usr/bin/python3 "$here/bench/monthend_summary.py" "$results"
