#!/usr/bin/env python3
"""The composer alone: velarion-compose on the reference listing against CUPS
texttopdf (Debian package cups-filters), and against another build's
velarion-compose with --baseline, each run in turn for several rounds.

Prints for every program its median wall-clock seconds, its median processor
time (user and system, all threads), its peak resident memory, and the ratio
of texttopdf's median to its own (wall clock and processor time), with the
load average before and after. With a longer listing (--long), each build
composes it once more, to show whether the peak grows with the pages.

texttopdf reads UTF-8: it is given a UTF-8 copy of the listing (made once,
beside the listing, not timed) with its default options, and its PDF is
discarded unwritten (the composer's is written, as it is in use).

Usage: composer_bench.py BIN_DIR LISTING [--baseline BIN_DIR] [--rounds N]
                         [--long LISTING]
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

TEXTTOPDF = "/usr/lib/cups/filter/texttopdf"
TIME = "/usr/bin/time"  # Debian package time


def run(argv, stdout_path):
    """Runs argv with stdout into a file; returns (wall s, cpu s, peak MB, status).

    Through /usr/bin/time, whose own small process is what the program's
    peak starts from (a child forked from this interpreter would count the
    interpreter's memory as its own)."""
    with tempfile.NamedTemporaryFile("r", prefix="composer_time_") as figures, open(stdout_path, "wb") as out:
        start = time.monotonic()
        status = subprocess.call([TIME, "-q", "-o", figures.name, "-f", "%U %S %M %x"] + argv,
                                 stdout=out, stderr=subprocess.DEVNULL)
        wall = time.monotonic() - start
        fields = figures.read().split()
    if len(fields) < 4:
        return wall, 0.0, 0.0, status or 1
    user, system, peak_kb, code = fields[-4:]
    return wall, float(user) + float(system), int(peak_kb) / 1024.0, int(code)


def load():
    return "%.2f %.2f %.2f" % os.getloadavg()


def utf8_copy(listing):
    """The listing in UTF-8 for texttopdf, made once beside it."""
    copy = listing + ".utf8"
    if not os.path.exists(copy) or os.path.getmtime(copy) < os.path.getmtime(listing):
        with open(listing, "r", encoding="cp1252", errors="replace", newline="") as f, \
                open(copy + ".part", "w", encoding="utf-8", newline="") as g:
            for line in f:
                g.write(line)
        os.replace(copy + ".part", copy)
    return copy


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("bin")
    ap.add_argument("listing")
    ap.add_argument("--baseline")
    ap.add_argument("--rounds", type=int, default=7)
    ap.add_argument("--long")
    args = ap.parse_args()

    programs = []  # (label, argv maker)
    if os.access(TEXTTOPDF, os.X_OK):
        text = utf8_copy(args.listing)
        programs.append(("texttopdf", lambda out, listing=text: [TEXTTOPDF, "1", "bench", "bench", "1", "", listing]))
    else:
        print("  no %s (Debian package cups-filters): no ratio to it" % TEXTTOPDF)
    builds = []
    if args.baseline:
        if os.access(os.path.join(args.baseline, "velarion-compose"), os.X_OK):
            builds.append(("old", args.baseline))
        else:
            print("  no velarion-compose in %s" % args.baseline)
    builds.append(("new" if builds else "compose", args.bin))
    for label, folder in builds:
        prog = os.path.join(folder, "velarion-compose")
        programs.append((label, lambda out, prog=prog: [prog, args.listing, "-o", out]))

    figures = {label: [] for label, _ in programs}
    print("  load average before: %s; %d rounds, the programs in turn (order reversed every other round)"
          % (load(), args.rounds))
    with tempfile.TemporaryDirectory(prefix="composer_bench_") as tmp:
        for r in range(args.rounds):
            order = programs if r % 2 == 0 else list(reversed(programs))
            line = []
            for label, argv in order:
                out = os.path.join(tmp, label + ".pdf")
                # texttopdf's PDF (some 220 MB) is discarded unwritten: on a
                # busy disk its writing, not its composing, would be timed.
                wall, cpu, peak, status = run(argv(out), os.devnull)
                if status != 0:
                    print("  %s failed (exit status %d)" % (label, status))
                    return 1
                figures[label].append((wall, cpu, peak))
                line.append("%s %.3f s (CPU %.3f s, %.1f MB)" % (label, wall, cpu, peak))
                if os.path.exists(out):
                    os.remove(out)
            print("  round %d: %s" % (r + 1, "  ".join(line)))
        print("  load average after: %s" % load())
        reference = None
        if "texttopdf" in figures:
            reference = (statistics.median(w for w, _, _ in figures["texttopdf"]),
                         statistics.median(c for _, c, _ in figures["texttopdf"]))
        for label, _ in programs:
            rows = figures[label]
            wall = statistics.median(w for w, _, _ in rows)
            cpu = statistics.median(c for _, c, _ in rows)
            peak = max(p for _, _, p in rows)
            ratio = ""
            if reference and label != "texttopdf":
                ratio = "  %.1fx texttopdf (CPU %.1fx)" % (reference[0] / wall, reference[1] / cpu)
            print("  %-9s median %.3f s  CPU %.3f s  peak %.1f MB%s" % (label, wall, cpu, peak, ratio))

        if args.long and os.path.exists(args.long):
            for label, folder in builds:
                out = os.path.join(tmp, "long.pdf")
                wall, cpu, peak, status = run(
                    [os.path.join(folder, "velarion-compose"), args.long, "-o", out], os.devnull)
                print("  %-9s the longer listing (%s): %.3f s  CPU %.3f s  peak %.1f MB%s"
                      % (label, os.path.basename(args.long), wall, cpu, peak,
                         "" if status == 0 else "  (exit status %d)" % status))
                if os.path.exists(out):
                    os.remove(out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
