#!/bin/sh
# Month-end runs of the real program (bench/monthend.py): all messages in the
# spool before the agent starts, delivered by the headless agent. With
# BASELINE=<bin folder of another build>, that build's agent and this one's
# run in turn for each kind of run.
# Usage: bench/monthend.sh [BUILD_DIR]
#   MONTHEND=<n>        messages of each run (5,000)
#   MONTHEND_LIMIT=<s>  seconds after which a run stops and reports the rate reached (150)
set -e
run() { "$@" || echo "  (exit status $?)"; }
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
bin=$build/bin
data=$build/bench-data
mkdir -p "$data"
monthend_n=${MONTHEND:-5000}
monthend_limit=${MONTHEND_LIMIT:-150}
monthend() {  # label program kind agents
    run /usr/bin/python3 "$here/bench/monthend.py" --bin "$2" --source "$here" --work "$data/monthend" \
        --messages "$monthend_n" --limit "$monthend_limit" --kind "$3" --agents "$4" --label "$1"
}
# Messages per second of a run's line.
rate_of() { sed -n 's/.* \([0-9.]*\) messages\/s.*/\1/p' | head -1; }
# Runs a kind on this build (and the baseline's before it); keeps the rates
# in old_rate and new_rate.
monthend_side_by_side() {  # kind agents
    old_rate= new_rate=
    if [ -n "$BASELINE" ] && [ -x "$BASELINE/velarion" ]; then
        out=$(monthend old: "$BASELINE/velarion" "$1" "$2")
        echo "$out"
        old_rate=$(echo "$out" | rate_of)
        label=new:
    else
        label=
    fi
    out=$(monthend "$label" "$bin/velarion" "$1" "$2")
    echo "$out"
    new_rate=$(echo "$out" | rate_of)
}
# The second agent's gain: the rate of two against one.
gain() {  # label rate-of-two rate-of-one
    [ -n "$2" ] && [ -n "$3" ] && awk -v a="$2" -v b="$3" -v l="$1" \
        'BEGIN { if (b > 0) printf "  %stwo agents reach %.2f times the rate of one\n", l, a / b }'
    return 0
}
echo "== Month-end run: $monthend_n one-page invoices (sample installation's invoice style) by one headless agent to a loopback SMTP server (each run stops after $monthend_limit s)"
monthend_side_by_side invoice 1
one_old=$old_rate one_new=$new_rate
echo "== The same invoices saved through the compose form into a maildir of drafts"
monthend_side_by_side drafts 1
echo "== The same invoices, two agents on one spool"
monthend_side_by_side invoice 2
[ -n "$BASELINE" ] && gain "old: " "$old_rate" "$one_old"
gain "${BASELINE:+new: }" "$new_rate" "$one_new"
echo "== $monthend_n messages without attachments by SMTP, one agent"
monthend_side_by_side plain 1
