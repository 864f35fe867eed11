"""Month-end benchmark: many messages written into the spool before the agent
looks, delivered by the real program run headless, as an operator runs it.

  monthend.py --bin BIN/velarion --source REPO --work DIR [--kind K]
              [--messages N] [--agents A] [--limit S] [--label L]

Kinds of message:
  invoice  a one-page invoice print file in the sample installation's invoice
           style (overlay form, JPEG picture, barcodes), sent by SMTP
  drafts   the same invoices saved through the compose form into a maildir
  plain    messages without attachments, sent by SMTP

The SMTP server is smtp_sink.py on the loopback (it offers PIPELINING, as
Postfix does). The time runs from the first
trigger taken (renamed out of the spool) to the last message accepted by the
server (or the last draft in the maildir); a run stops after --limit seconds
and reports the rate it reached. Printed: messages per second, peak resident
memory of the agent (the kernel's count for the process, from wait4), and how
each agent's main thread spent the time, found by sampling every 2 ms what
it is doing (/proc/PID/task/PID/syscall, the descriptor it waits on):
  compose  not in a sync, sleep or socket call between the lines " Inizio
           AnalizzaTXT" and " Creato il file PDF" (analysis, drawing, writing
           the PDF), the lines timed by perf on the agent's writes to standard
           output where perf is installed
  syncs    in fsync, fdatasync, sync_file_range or syncfs
  mail     in a system call on a socket (SMTP, replies of the server included)
  waiting  asleep (nanosleep, clock_nanosleep: the size check's pause)
  files    blocked in another system call (open, rename, read, write ...)
  other    running or runnable: scan, copies, queue records, MIME, the log
and the share of the time it ran on a CPU and waited runnable for one
(/proc/PID/task/PID/schedstat), since a loaded machine shows in "other".
With --rss-at N, the first agent's resident memory once N messages were done
and at the end; with --results FILE, the run's figures appended there as one
JSON line (bench/monthend_summary.py prints them side by side).
"""
import argparse
import collections
import json
import os
import resource
import shutil
import signal
import struct
import subprocess
import sys
import threading
import time

SYNC = {74, 75, 162, 277, 306}            # fsync fdatasync sync sync_file_range syncfs
SLEEP = {35, 230}                         # nanosleep clock_nanosleep
FD_CALLS = {0, 1, 19, 20, 42, 43, 44, 45, 46, 47, 288, 299, 307}  # read write readv writev connect accept sendto recvfrom sendmsg recvmsg accept4 recvmmsg sendmmsg
POLL = {7, 271}                           # poll ppoll: first descriptor at *arg0
SELECT = {23, 270}                        # select pselect6
FUTEX = 202                               # a wait for another thread of the agent
PY = '/usr/bin/python3'  # the system's Python runs the sink (the tests' aiosmtpd is installed for it)


def rss_kib(pid):
    """The process's resident memory now (0 when it has gone)."""
    try:
        with open('/proc/%d/status' % pid) as f:
            for line in f:
                if line.startswith('VmRSS:'):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def write(path, data):
    with open(path, 'wb') as f:
        f.write(data)


def crlf(lines):
    return ('\r\n'.join(lines) + '\r\n').encode('cp1252')


class Installation:
    """A copy of the sample installation with N messages in its spool."""

    def __init__(self, source, root, kind, port):
        demo = os.path.join(source, 'examples', 'demo')
        self.root = root
        self.spool = os.path.join(root, 'spool')
        self.posta = os.path.join(root, 'posta')
        shutil.rmtree(root, ignore_errors=True)
        for d in ('spool', 'tempozip', 'send', 'posta', 'copie', 'home', 'config'):
            os.makedirs(os.path.join(root, d))
        for d in ('loghi', 'unione'):
            shutil.copytree(os.path.join(demo, d), os.path.join(root, d))
        for name in ('loghi.ini', 'barcode.ini'):
            p = os.path.join(root, 'loghi', name)
            if os.path.exists(p):
                with open(p, 'rb') as f:
                    text = f.read()
                write(p, text.replace(b'@RUN@', root.encode()))
        with open(os.path.join(demo, 'velarion.ini.in'), 'rb') as f:
            ini = f.read()
        write(os.path.join(root, 'velarion.ini'),
              ini.replace(b'@RUN@', root.encode()).replace(b'@TRANSPORT@', b'smtp://127.0.0.1:%d' % port))
        with open(os.path.join(demo, 'spool', 'AB.903.0'), 'rb') as f:
            invoice = f.read()
        # One page: the invoice without the appended conditions.
        self.invoice = b''.join(l for l in invoice.splitlines(True) if not l.startswith(b'///M'))
        self.kind = kind

    def write_messages(self, n):
        """Headers, bodies and print files first, the triggers last, as the
        business application writes them."""
        bases = ['AB.%06d' % (100000 + i) for i in range(n)]
        for i, base in enumerate(bases):
            p = os.path.join(self.spool, base)
            to = 'cliente%05d@example.com' % i
            if self.kind == 'plain':
                write(p + '.h', crlf(['P%d' % i, '', 'ab@example.com', to, 'Promemoria %d' % i, '.', 'SEND']))
                write(p + '.b', crlf(['Gentile cliente,', 'le ricordiamo la scadenza del mese.', '', 'Saluti']))
                continue
            number = b'%04d' % (i % 10000)
            write(p + '.0', self.invoice.replace(b'FT2026-0042', b'FT2026-' + number)
                  .replace(b'FT20260042', b'FT2026' + number))
            option = 'SAVE' if self.kind == 'drafts' else 'SEND'
            write(p + '.h', crlf(['F%d' % i, '.', 'ab@example.com', to, 'Fattura FT2026-%s' % number.decode(),
                                  'FATTURA', option, '-', 'FATT%05d.txt' % i]))
            write(p + '.b', crlf(['Buongiorno,', 'in allegato la fattura FT2026-%s.' % number.decode()]))
        for base in bases:
            write(os.path.join(self.spool, base + '.T'), b'')
        return os.path.join(self.spool, bases[0] + '.T')

    def drafts(self):
        n = 0
        for dirpath, _, files in os.walk(self.posta):
            if os.path.basename(dirpath) in ('new', 'cur'):
                n += len(files)
        return n


class Agent:
    """One headless agent, its activity lines read as they come."""

    def __init__(self, binary, inst, index):
        run = os.path.join(inst.root, 'run%d' % index)
        os.makedirs(run, exist_ok=True)
        env = dict(os.environ, HOME=os.path.join(inst.root, 'home'), XDG_RUNTIME_DIR=run,
                   XDG_CONFIG_HOME=os.path.join(inst.root, 'config'), LC_ALL='C.UTF-8')
        env.pop('DISPLAY', None)
        self.proc = subprocess.Popen([binary, '--headless', 'ini:' + inst.root, 'ope:AB', 'plus:y'],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
        self.pid = self.proc.pid
        self.lines = []   # (time read, line)
        self.saved = 0
        self.maxrss_kib = 0
        self.cpu_s = 0.0
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for raw in self.proc.stdout:
            line = raw.decode('utf-8', 'replace')
            self.lines.append((time.monotonic(), line))
            if ' Interfaccia messaggio' in line or ' Salvato ' in line:
                self.saved += 1

    def exited(self, block=False):
        """True when the process has ended; reaps it, keeping its peak resident
        memory (Popen.poll would reap it without)."""
        if self.proc.returncode is not None:
            return True
        try:
            pid, status, ru = os.wait4(self.pid, 0 if block else os.WNOHANG)
        except ChildProcessError:
            return True
        if not pid:
            return False
        self.maxrss_kib = ru.ru_maxrss
        self.cpu_s = ru.ru_utime + ru.ru_stime
        self.proc.returncode = os.waitstatus_to_exitcode(status)
        return True

    def compose_intervals(self, write_times):
        """The times from each " Inizio AnalizzaTXT" line to the next " Creato
        il file PDF" line. With write_times (the agent's writes to standard
        output, one a line, from perf) they are the program's own; without,
        the times the lines were read here, later by the scheduler's whims."""
        self.reader.join(5)
        times = [t for t, _ in self.lines]
        if write_times and len(write_times) <= len(times):
            # The writes are those of the last lines: perf came after start-up.
            times = times[:len(times) - len(write_times)] + write_times
        out, start = [], None
        for t, (_, line) in zip(times, self.lines):
            if ' Inizio AnalizzaTXT' in line:
                start = t
            elif ' Creato il file PDF' in line and start is not None:
                out.append((start, t))
                start = None
        return out


class LineClock:
    """The agents' writes to standard output timed by the kernel (perf
    tracepoint sys_enter_write on descriptor 1, monotonic clock)."""

    def __init__(self, agents, path):
        self.path = path
        self.proc = None
        if not shutil.which('perf'):
            return
        pids = ','.join(str(a.pid) for a in agents)
        self.proc = subprocess.Popen(['perf', 'record', '-q', '-e', 'syscalls:sys_enter_write', '--filter', 'fd == 1',
                                      '-k', 'CLOCK_MONOTONIC', '-p', pids, '-o', path],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def times(self):
        """pid -> write times; empty when perf was not there or failed."""
        if not self.proc:
            return {}
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.send_signal(signal.SIGINT)
            self.proc.wait()
        out = {}
        try:
            script = subprocess.run(['perf', 'script', '-i', self.path, '-F', 'pid,time'], capture_output=True,
                                    text=True, timeout=120).stdout
        except (OSError, subprocess.TimeoutExpired):
            return {}
        for row in script.splitlines():
            f = row.split()
            if len(f) >= 2:
                out.setdefault(int(f[0]), []).append(float(f[1].rstrip(':')))
        return out


class Sampler:
    """What each agent's main thread is doing, every 2 ms, while active."""

    def __init__(self, agents):
        self.agents = agents
        self.samples = []   # (time, agent index, kind), kind: syncs mail waiting cpu
        self.active = False
        self.done = False
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _fd_is_socket(self, pid, fd):
        try:
            return os.readlink('/proc/%d/fd/%d' % (pid, fd)).startswith('socket:')
        except OSError:
            return False

    def _classify(self, pid):
        try:
            with open('/proc/%d/task/%d/syscall' % (pid, pid)) as f:
                fields = f.read().split()
        except OSError:
            return None
        if not fields:
            return None
        if fields[0] not in ('running', '-1'):
            nr = int(fields[0])
            if nr in SYNC:
                return 'syncs'
            if nr in SLEEP:
                return 'waiting'
            if nr in SELECT:
                return 'mail'
            if nr in FD_CALLS and self._fd_is_socket(pid, int(fields[1], 16)):
                return 'mail'
            if nr in POLL:
                try:
                    with open('/proc/%d/mem' % pid, 'rb') as m:
                        m.seek(int(fields[1], 16))
                        fd = struct.unpack('i', m.read(4))[0]
                    if self._fd_is_socket(pid, fd):
                        return 'mail'
                except (OSError, ValueError, struct.error):
                    pass
            if nr != FUTEX:
                return 'files'
        return 'cpu'

    @staticmethod
    def schedstat(pid):
        """Nanoseconds the thread has run and has waited runnable for a CPU."""
        try:
            with open('/proc/%d/task/%d/schedstat' % (pid, pid)) as f:
                run, wait = f.read().split()[:2]
            return int(run), int(wait)
        except (OSError, ValueError):
            return 0, 0

    def begin(self):
        self.sched0 = [self.schedstat(a.pid) for a in self.agents]
        self.t_begin = time.monotonic()
        self.active = True

    def _run(self):
        while not self.done:
            if self.active:
                for i, a in enumerate(self.agents):
                    k = self._classify(a.pid)
                    if k:
                        self.samples.append((time.monotonic(), i, k))
            time.sleep(0.002)

    def stop(self):
        self.active = False
        self.done = True
        self.thread.join()
        sched1 = [self.schedstat(a.pid) for a in self.agents]
        wall = (time.monotonic() - self.t_begin) * 1e9 * len(self.agents)
        self.on_cpu = sum(b[0] - a[0] for a, b in zip(self.sched0, sched1)) / wall
        self.queued = sum(b[1] - a[1] for a, b in zip(self.sched0, sched1)) / wall

    def shares(self, intervals):
        """Shares of the samples; a 'cpu' sample inside one of its agent's
        composition intervals is composition, else other work."""
        counts = {k: 0 for k in ('compose', 'syncs', 'mail', 'waiting', 'files', 'other')}
        for i in range(len(self.agents)):
            spans = intervals[i]
            j = 0
            for t, _, kind in (x for x in self.samples if x[1] == i):
                if kind != 'cpu':
                    counts[kind] += 1
                    continue
                while j < len(spans) and spans[j][1] < t:
                    j += 1
                counts['compose' if j < len(spans) and spans[j][0] <= t else 'other'] += 1
        total = sum(counts.values())
        if not total:
            return 'no samples'
        return ', '.join('%s %.1f%%' % (k, 100.0 * v / total) for k, v in counts.items()) + \
            ' (%d samples); on a CPU %.1f%%, runnable waiting for a CPU %.1f%%' % \
            (total, 100.0 * self.on_cpu, 100.0 * self.queued)


def run(args):
    sink = subprocess.Popen([PY, os.path.join(os.path.dirname(os.path.abspath(__file__)), 'smtp_sink.py')],
                            stdout=subprocess.PIPE)
    port = int(sink.stdout.readline())
    accepted = []
    recipients = collections.Counter()

    def read_sink():
        for line in sink.stdout:
            t, rcpt = line.split()
            accepted.append(float(t))
            recipients[rcpt] += 1

    threading.Thread(target=read_sink, daemon=True).start()

    inst = Installation(args.source, args.work, args.kind, port)
    first_trigger = inst.write_messages(args.messages)
    load = open('/proc/loadavg').read().split()[:3]

    agents = [Agent(args.bin, inst, i) for i in range(args.agents)]
    # Tracers and profilers attached to the first agent from its start.
    tracers = []
    if args.perf:
        tracers.append(subprocess.Popen(['perf', 'record', '-q', '-F', str(args.perf_freq), '--call-graph', 'dwarf',
                                         '-p', str(agents[0].pid), '-o', args.perf], stderr=subprocess.DEVNULL))
    if args.strace:
        tracers.append(subprocess.Popen(['strace', '-f', '-tt', '-T', '-y', '-o', args.strace, '-p', str(agents[0].pid)],
                                        stderr=subprocess.DEVNULL))
    sampler = Sampler(agents) if args.shares else None
    line_clock = LineClock(agents, os.path.join(args.work, 'lines.perf')) if args.shares else None
    started = time.monotonic()
    t0 = None
    # The first trigger taken: it leaves the spool by a rename into the queue.
    while time.monotonic() - started < 60:
        if not os.path.exists(first_trigger):
            t0 = time.monotonic()
            break
        if any(a.exited() for a in agents):
            break
        time.sleep(0.0005)
    if sampler:
        sampler.begin()
    n = args.messages
    end = None
    capped = False
    rss_at = None  # resident memory of the first agent once --rss-at messages were done
    if t0 is not None:
        while True:
            now = time.monotonic()
            if args.rss_at and rss_at is None:
                got = inst.drafts() if args.kind == 'drafts' else len(accepted)
                if got >= args.rss_at:
                    rss_at = (got, rss_kib(agents[0].pid))
            if args.kind == 'drafts':
                if sum(a.saved for a in agents) >= n and inst.drafts() >= n:
                    end = now
                    break
            elif len(accepted) >= n:
                end = accepted[n - 1]
                break
            if now - t0 >= args.limit:
                capped = True
                end = now
                break
            if all(a.exited() for a in agents):
                end = now
                break
            time.sleep(0.002 if args.kind != 'drafts' or sum(a.saved for a in agents) >= n else 0.05)
    rss_end = rss_kib(agents[0].pid) if args.rss_at else 0
    if sampler:
        sampler.stop()
    # What was done by the end (a stopped agent may finish one more message).
    if args.kind == 'drafts':
        done = inst.drafts()
    else:
        done = sum(1 for t in accepted if end is not None and t <= end)
    for t in tracers:
        t.send_signal(signal.SIGINT)
        t.wait()
    # SIGTERM closes an agent after the message under way; one in the middle
    # of a long scan is killed after a grace period.
    for a in agents:
        if not a.exited():
            a.proc.send_signal(signal.SIGTERM)
    deadline = time.monotonic() + 5
    for a in agents:
        while not a.exited() and time.monotonic() < deadline:
            time.sleep(0.05)
        if not a.exited():
            a.proc.kill()
            a.exited(block=True)
    sink.terminate()
    _, _, sink_ru = os.wait4(sink.pid, 0)
    sink.returncode = 0
    me = resource.getrusage(resource.RUSAGE_SELF)
    what = {'invoice': 'invoices by SMTP', 'drafts': 'invoices as drafts', 'plain': 'plain by SMTP'}[args.kind]
    label = (args.label + ' ') if args.label else ''
    head = '%s%d %s, %d agent%s' % (label, n, what, args.agents, 's' if args.agents > 1 else '')
    if t0 is None:
        print('%s: no trigger was taken (agent exit status %s)' % (head, [a.proc.returncode for a in agents]))
        return 1
    seconds = max(end - t0, 1e-6)
    peak = max(a.maxrss_kib for a in agents) / 1024.0
    status = ('stopped after %.0f s, %d of %d done' % (seconds, done, n)) if capped or done < n \
        else ('%d done in %.1f s' % (done, seconds))
    print('%s: %s, %.2f messages/s (%.0f a minute), peak RSS %.1f MB, load %s' %
          (head, status, done / seconds, 60 * done / seconds, peak, ' '.join(load)))
    twice = sum(1 for v in recipients.values() if v > 1)
    if twice:
        print('    DELIVERED MORE THAN ONCE: %d messages' % twice)
    if sampler:
        writes = line_clock.times()
        intervals = [a.compose_intervals(writes.get(a.pid)) for a in agents]
        print('    main thread: %s%s' % (sampler.shares(intervals),
                                         '' if writes else '; composition timed by lines read, not perf'))
    agent_cpu = sum(a.cpu_s for a in agents)
    print('    CPU: agent%s %.1f s (%.2f ms a message, start-up included); driver and sampler %.1f s, SMTP server %.1f s' %
          ('s' if len(agents) > 1 else '', agent_cpu, 1000.0 * agent_cpu / max(done, 1),
           me.ru_utime + me.ru_stime, sink_ru.ru_utime + sink_ru.ru_stime))
    if args.rss_at:
        print('    memory: RSS %s at %s messages, %.1f MB at %d messages' %
              (('%.1f MB' % (rss_at[1] / 1024.0)) if rss_at else '-', rss_at[0] if rss_at else args.rss_at,
               rss_end / 1024.0, done))
    if args.results:
        with open(args.results, 'a') as f:
            f.write(json.dumps({'label': args.label, 'kind': args.kind, 'agents': args.agents, 'messages': n,
                                'done': done, 'rate': done / seconds, 'cpu_ms': 1000.0 * agent_cpu / max(done, 1),
                                'peak_mb': peak, 'load': load[0],
                                'rss_at': [rss_at[0], rss_at[1] / 1024.0] if rss_at else None,
                                'rss_end': [done, rss_end / 1024.0] if args.rss_at else None}) + '\n')
    if not args.keep:
        shutil.rmtree(args.work, ignore_errors=True)
    return 0 if (done == n or capped) and not twice else 1


def main():
    p = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    p.add_argument('--bin', required=True, help='the velarion program')
    p.add_argument('--source', required=True, help='the project folder holding examples/demo')
    p.add_argument('--work', required=True, help='folder for the installation (emptied first)')
    p.add_argument('--kind', choices=('invoice', 'drafts', 'plain'), default='invoice')
    p.add_argument('--messages', type=int, default=5000)
    p.add_argument('--agents', type=int, default=1)
    p.add_argument('--limit', type=float, default=120, help='seconds after which the run stops')
    p.add_argument('--label', default='')
    p.add_argument('--no-shares', dest='shares', action='store_false')
    p.add_argument('--keep', action='store_true', help='keep the installation')
    p.add_argument('--perf', help='perf record of the first agent (DWARF call graphs) into this file')
    p.add_argument('--perf-freq', type=int, default=499, help='samples per second of --perf')
    p.add_argument('--strace', help='strace -f -tt -T of the first agent into this file')
    p.add_argument('--rss-at', type=int, default=0,
                   help='also print the resident memory once this many messages were done, and at the end')
    p.add_argument('--results', help='append the run\'s figures to this file, one JSON line')
    args = p.parse_args()
    args.bin = os.path.abspath(args.bin)
    args.work = os.path.abspath(args.work)
    sys.exit(run(args))


if __name__ == '__main__':
    main()
