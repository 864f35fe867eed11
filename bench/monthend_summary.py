"""The month-end and idle figures of one bench/monthend.sh run, side by side:
the median of each build's runs of each kind, against the goals.

  monthend_summary.py RESULTS   (the JSON lines monthend.py and idle.py appended)
"""
import collections
import json
import statistics
import sys

KINDS = [  # (kind, agents, what, goal on the agent's CPU per message in ms)
    ('invoice', 1, 'one-page invoices by SMTP', 1.5),
    ('plain', 1, 'messages without attachments by SMTP', 0.5),
    ('drafts', 1, 'invoices saved as maildir drafts', 2.0),
    ('invoice', 2, 'invoices by SMTP, two agents', None),
]
RATE_GOAL = 400.0   # invoices a second through the loopback sink
PEAK_GOAL = 40.0    # MB
IDLE_GOAL = 0.1     # % of a core


def label_of(r):
    return r['label'].rstrip(':') or 'this build'


def median(values):
    return statistics.median(values) if values else None


def fmt(v, pattern):
    return '-' if v is None else pattern % v


def main():
    rows = [json.loads(line) for line in open(sys.argv[1]) if line.strip()]
    labels = []
    for r in rows:
        if label_of(r) not in labels:
            labels.append(label_of(r))
    runs = collections.defaultdict(list)
    for r in rows:
        if r['kind'] != 'idle' and not r.get('rss_at'):
            runs[(r['kind'], r['agents'], label_of(r))].append(r)
    loads = sorted(float(r['load']) for r in rows)
    print('== Summary (median of each build\'s runs; 1-minute load %s-%s while they ran)' %
          (loads[0] if loads else '?', loads[-1] if loads else '?'))
    print('  %-40s %-10s %5s %12s %14s %9s' % ('run', 'build', 'runs', 'CPU ms/msg', 'messages/s', 'peak MB'))
    for kind, agents, what, goal in KINDS:
        for label in labels:
            rs = runs.get((kind, agents, label))
            if not rs:
                continue
            cpu = median([r['cpu_ms'] for r in rs])
            rate = median([r['rate'] for r in rs])
            peak = max(r['peak_mb'] for r in rs)
            print('  %-40s %-10s %5d %12s %14s %9s' % (what, label, len(rs), fmt(cpu, '%.2f'), fmt(rate, '%.1f'),
                                                       fmt(peak, '%.1f')))
        if goal:
            print('  %-40s goal: <= %.1f ms a message' % ('', goal))
        if kind == 'invoice' and agents == 1:
            print('  %-40s goal: >= %.0f invoices/s, peak <= %.0f MB' % ('', RATE_GOAL, PEAK_GOAL))
    for label in labels:
        one = runs.get(('invoice', 1, label))
        two = runs.get(('invoice', 2, label))
        if one and two:
            print('  two agents against one (%s): %.2fx' % (label, median([r['rate'] for r in two]) /
                                                         median([r['rate'] for r in one])))
    mem = [r for r in rows if r.get('rss_at')]
    if mem:
        print('== Memory of one agent over a long run (goal: no growth)')
        for r in mem:
            (n1, m1), (n2, m2) = r['rss_at'], r['rss_end']
            print('  %-10s RSS %.1f MB at %d messages, %.1f MB at %d messages (%+.1f MB)' %
                  (label_of(r), m1, n1, m2, n2, m2 - m1))
    idle = [r for r in rows if r['kind'] == 'idle']
    if idle:
        print('== Idle agent, Timing 500, empty spool (goal: <= %.1f %% of a core, memory not growing)' % IDLE_GOAL)
        for r in idle:
            print('  %-10s %.3f %% of a core over %.0f s, RSS %.1f -> %.1f MB' %
                  (label_of(r), r['core_pct'], r['seconds'], r['rss_start'], r['rss_end']))


if __name__ == '__main__':
    main()
