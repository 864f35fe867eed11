#!/bin/sh
# Runs the benchmarks and prints their figures (make bench).
# Usage: bench/run.sh [BUILD_DIR]
#   BASELINE=<bin folder of another build>  runs that build's benchmarks
#                                           alternately with these, for
#                                           figures taken side by side
#   ROUNDS=<n>                              runs of the 10,000-page listing (3)
#   DRAFTS=<n>, ATTACHMENT_MB=<n>           drafts saved (5,000), attachment size (200)
#   MONTHEND=<n>, MONTHEND_LIMIT=<s>        messages of the month-end runs (5,000),
#                                           seconds after which a run stops (150)
#   MONTHEND_ROUNDS=<n>                     rounds of each month-end run per build (2)
#   MONTHEND_WORK=<dir>                     where the month-end runs' installations go
#                                           (BUILD_DIR/bench-data)
#   MEMORY_MESSAGES=<n>, IDLE_SECONDS=<s>   the agent's memory run (10,000 messages) and
#                                           how long idle agents are watched (300)
# The reference listings are made once by shared/bench/gen_listing.py beside
# the project (GEN_LISTING names it elsewhere) into BUILD_DIR/bench-data.
set -e
# A benchmark that fails prints why and the others still run.
run() { "$@" || echo "  (exit status $?)"; }
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
bin=$build/bin
data=$build/bench-data
gen=${GEN_LISTING:-$here/../shared/bench/gen_listing.py}
rounds=${ROUNDS:-3}
mkdir -p "$data"

listing() {  # pages name
    if [ ! -f "$data/$2" ]; then
        if [ -f "$gen" ]; then
            echo "Making $2 with $gen ..." >&2
            python3 "$gen" "$1" "$data/$2"
        else
            echo "no $gen: the compositions use the benchmark's own listings" >&2
            return 1
        fi
    fi
    echo "$data/$2"
}

side_by_side() {  # program args...
    prog=$1
    shift
    if [ -n "$BASELINE" ] && [ -x "$BASELINE/$prog" ]; then
        printf 'old: '
        run "$BASELINE/$prog" "$@"
    fi
    [ -n "$BASELINE" ] && printf 'new: '
    run "$bin/$prog" "$@"
}

# Pages per second of a compose_bench line.
rate() { sed -n 's/.* \([0-9][0-9]*\) pages\/s  (CPU.*/\1/p'; }

echo "== Composition of the reference listing (pre-analysis and CreaPdf, whole type sequence)"
if l10k=$(listing 10000 listing_10k.txt); then
    i=0
    while [ $i -lt "$rounds" ]; do
        side_by_side compose_bench "$l10k"
        i=$((i + 1))
    done
    # The libharu writer (the tests' reference, the program's writer before
    # the streaming one) and the streaming writer in turn, in this build.
    echo "== The same listing, libharu writer against the streaming writer"
    i=0
    while [ $i -lt "$rounds" ]; do
        old=$("$bin/compose_bench" "$l10k" hpdf) || true
        new=$("$bin/compose_bench" "$l10k") || true
        echo "libharu:$old"
        echo "stream: $new"
        o=$(echo "$old" | rate)
        n=$(echo "$new" | rate)
        [ -n "$o" ] && [ -n "$n" ] && [ "$o" -gt 0 ] && awk -v o="$o" -v n="$n" 'BEGIN { printf "  speed-up %.1fx\n", n / o }'
        i=$((i + 1))
    done
    if l100k=$(listing 100000 listing_100k.txt); then
        side_by_side compose_bench "$l100k"
    fi
    if [ -x "$bin/deflate_bench" ]; then
        echo "== Deflate libraries on the listing's page streams (3,000 pages, one core)"
        "$bin/deflate_bench" "$l10k" 3000
    fi
else
    side_by_side compose_bench 10000
fi

# The composer alone against CUPS texttopdf (cups-filters) and BASELINE's,
# in turn; COMPOSER_ROUNDS rounds (7). Also the 100,000-page listing once each.
if [ -f "$data/listing_10k.txt" ]; then
    echo "== The composer alone (velarion-compose) on the reference listing, against CUPS texttopdf"
    run python3 "$here/bench/composer_bench.py" "$bin" "$data/listing_10k.txt" --rounds "${COMPOSER_ROUNDS:-7}" \
        --long "$data/listing_100k.txt" ${BASELINE:+--baseline "$BASELINE"}
fi

echo "== One-page invoice of the sample installation (overlay, JPEG picture, two barcodes)"
side_by_side invoice_bench "$here" 200

echo "== Drafts saved through the compose form into a maildir (client Outlook, option SAVE)"
side_by_side mail_bench drafts "${DRAFTS:-5000}"

echo "== A 200 MB attachment saved as a draft and sent through SMTP"
side_by_side mail_bench attachment "${ATTACHMENT_MB:-200}"

# Month-end runs of the real program (also run alone: bench/monthend.sh BUILD_DIR).
run "$here/bench/monthend.sh" "$build"
