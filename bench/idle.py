"""Idle agents: the sample installation with an empty spool and Timing=500,
one headless agent per program given, all run over the same interval so that
the machine's load weighs on them alike.

  idle.py --source REPO --work DIR [--seconds S] [--settle S] LABEL=BIN/velarion ...

After --settle seconds (start-up done), the CPU time each agent uses over
--seconds (the scheduler's count of every thread's running time) is printed as a share
of one core, with its resident memory at the start and at the end.
"""
import argparse
import json
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import monthend  # noqa: E402  (the same installation and agent as the month-end runs)


def cpu_seconds(pid):
    """CPU time of all the process's threads, in seconds (the scheduler's
    nanosecond count, finer than the clock ticks of /proc/PID/stat)."""
    total = 0
    for tid in os.listdir('/proc/%d/task' % pid):
        try:
            with open('/proc/%d/task/%s/schedstat' % (pid, tid)) as f:
                total += int(f.read().split()[0])
        except (OSError, ValueError):
            pass
    return total / 1e9


def rss_kib(pid):
    with open('/proc/%d/status' % pid) as f:
        for line in f:
            if line.startswith('VmRSS:'):
                return int(line.split()[1])
    return 0


def main():
    p = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    p.add_argument('--source', required=True)
    p.add_argument('--work', required=True)
    p.add_argument('--seconds', type=float, default=300)
    p.add_argument('--settle', type=float, default=5)
    p.add_argument('--results', help='append each agent\'s figures to this file, one JSON line each')
    p.add_argument('programs', nargs='+', help='LABEL=path of a velarion program')
    args = p.parse_args()
    agents = []
    for i, program in enumerate(args.programs):
        label, _, binary = program.partition('=')
        inst = monthend.Installation(args.source, os.path.join(os.path.abspath(args.work), 'idle%d' % i), 'plain', 9)
        ini = os.path.join(inst.root, 'velarion.ini')
        with open(ini, 'rb') as f:
            text = f.read()
        with open(ini, 'wb') as f:
            f.write(text.replace(b'Timing=2000', b'Timing=500'))
        agents.append((label, monthend.Agent(os.path.abspath(binary), inst, 0)))
    time.sleep(args.settle)
    load = open('/proc/loadavg').read().split()[:3]
    start = [(cpu_seconds(a.pid), rss_kib(a.pid)) for _, a in agents]
    t0 = time.monotonic()
    time.sleep(args.seconds)
    wall = time.monotonic() - t0
    end = [(cpu_seconds(a.pid), rss_kib(a.pid)) for _, a in agents]
    for (label, a), (c0, r0), (c1, r1) in zip(agents, start, end):
        share = 100.0 * (c1 - c0) / wall
        print('%s idle agent (Timing 500, empty spool) over %.0f s: %.3f %% of a core (%.3f s of CPU), '
              'RSS %.1f MB at the start, %.1f MB at the end, load %s' %
              (label, wall, share, c1 - c0, r0 / 1024.0, r1 / 1024.0, ' '.join(load)))
        if args.results:
            with open(args.results, 'a') as f:
                f.write(json.dumps({'label': label, 'kind': 'idle', 'seconds': wall, 'core_pct': share,
                                    'rss_start': r0 / 1024.0, 'rss_end': r1 / 1024.0, 'load': load[0]}) + '\n')
    for _, a in agents:
        a.proc.terminate()
        a.exited(block=True)
    shutil.rmtree(args.work, ignore_errors=True)


if __name__ == '__main__':
    main()
