"""Where an agent's CPU time goes, from a profile with call graphs:

  bench/monthend.py ... --perf agent.perf     (or perf record --call-graph dwarf)
  perf script -i agent.perf -F tid,ip,sym,dso > agent.script
  python3 bench/profile_shares.py agent.script [callers FRAME]

Each sample goes to the first of the groups below whose frames it holds
(a sync's CPU first, whatever called it); then the functions that hold the
most samples, themselves or below them. With "callers FRAME", the chains
that lead to the frames whose name holds FRAME.
"""
import collections
import re
import sys

GROUPS = [
    ('fsync, CPU side of the syncs', ['fsync', 'fdatasync']),
    ('composition (AnalizzaTXT, CreaPdf)', ['compose_print_file', 'CreaPdf', 'AnalizzaTXT']),
    ('mail: session (connect, EHLO, replies)', ['connect_service', 'SMTPResponse', 'SMTPConnection']),
    ('mail: MIME message built and streamed', ['VmimeSession::build', 'send_streamed', 'SpooledMessage']),
    ('mail: the rest', ['deliver_mapi', 'Dispatcher::sendmail']),
    ('spool: group copied into the work folder', ['copy_group']),
    ('message: header, body, attachments', ['read_header', 'MessageJob']),
    ('queue: claims, records, outcome, removal', ['settle', 'mark_delivering', 'SpoolQueue']),
    ('work claims published', ['WorkClaims']),
    ('activity lines, log, day counts', ['ActivityList', 'write_line', 'flush_if_due', 'count_today']),
    ('scan: listing, triggers', ['SpoolListing', 'LEGGI_DIR']),
]


def samples(path):
    """(thread, [frame names, leaf first]) per sample."""
    cur = None
    with open(path, errors='replace') as f:
        for line in f:
            if not line.strip():
                if cur:
                    yield cur
                cur = None
            elif re.match(r'\s*\d+\s*$', line):  # a sample's thread (perf pads it)
                cur = (line.split()[0], [])
            elif cur is not None:
                m = re.match(r'\s+[0-9a-f]+ (.*) \((.*)\)$', line.rstrip())
                if m:
                    cur[1].append(m.group(1))
    if cur:
        yield cur


def main():
    all_samples = list(samples(sys.argv[1]))
    n = len(all_samples)
    if not n:
        print('no samples')
        return
    if len(sys.argv) > 3 and sys.argv[2] == 'callers':
        chains = collections.Counter()
        for _, frames in all_samples:
            for i, name in enumerate(frames):
                if sys.argv[3] in name:
                    chains[' <- '.join(x.split('(')[0][-60:] for x in frames[i:i + 6])] += 1
                    break
        print('%s: %.1f%% of %d samples' % (sys.argv[3], 100.0 * sum(chains.values()) / n, n))
        for chain, v in chains.most_common(20):
            print('  %5.1f%% %s' % (100.0 * v / n, chain))
        return
    groups = collections.Counter()
    inclusive = collections.Counter()
    for _, frames in all_samples:
        for label, keys in GROUPS:
            if any(k in name for name in frames for k in keys):
                groups[label] += 1
                break
        else:
            groups['elsewhere: ' + (frames[0][:60] if frames else '?')] += 1
        for name in set(frames):
            inclusive[name] += 1
    print('%d samples, by group:' % n)
    for label, v in groups.most_common(25):
        print('  %5.1f%% %s' % (100.0 * v / n, label))
    print('functions holding the most samples (themselves and below):')
    for name, v in inclusive.most_common(60):
        print('  %5.1f%% %s' % (100.0 * v / n, name[:140]))


if __name__ == '__main__':
    main()
