"""Counts the messages the agent sends twice (or never) when the spool file
system fails under it: a burst of messages to a loopback SMTP sink
(smtp_sink.py), with the preload library refuse_rename failing the renames
into the concluded state of the queue one time in --refuse-every, or all of
them for --full-seconds after the first delivery, or with --kills agents
killed (SIGKILL) at random moments and started again. Prints one line:
messages, delivered, duplicates, missing, parked; with kills, for each
duplicate how long after the server's acceptance of its first copy the
nearest kill landed, and the killed agent's last activity line.
Usage: exactly_once.py --agent build/bin/velarion --preload build/tests/librefuse_rename.so
       [--messages 100] [--refuse-every 10] [--full-seconds 0] [--agents 1] [--kills 0]"""
import random
import argparse
import collections
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def waiting(spool):
    n = sum(1 for f in os.listdir(spool) if f.upper().endswith('.T'))
    coda = os.path.join(spool, 'coda')
    if os.path.isdir(coda):
        for f in os.listdir(coda):
            if '@' in f and not f.startswith('.') and '@concluso' not in f:
                n += 1
    return n


STARTED = []
MOUNTS = []


def fill(folder, until):
    """Keeps the file system of `folder` full until the monotonic time `until`:
    whatever the agent frees (the spool files of delivered messages) is taken again."""
    os.makedirs(folder, exist_ok=True)
    block = b'x' * 4096
    n = 0
    while time.monotonic() < until:
        try:
            with open(os.path.join(folder, 'pieno%d.dat' % n), 'wb', buffering=0) as f:
                n += 1
                while True:
                    f.write(block)
        except OSError:
            time.sleep(0.005)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--agent', required=True)
    ap.add_argument('--preload', required=True)
    ap.add_argument('--messages', type=int, default=100)
    ap.add_argument('--refuse-every', type=int, default=10)
    ap.add_argument('--full-seconds', type=float, default=0)
    ap.add_argument('--agents', type=int, default=1)
    ap.add_argument('--limit', type=float, default=300)
    ap.add_argument('--kills', type=int, default=0)
    # A spool folder on a 64 MB ext4 file system (a loop device: needs root)
    # filled to the last block for this many seconds after the first delivery.
    ap.add_argument('--ext4-full-seconds', type=float, default=0)
    a = ap.parse_args()

    root = tempfile.mkdtemp(prefix='once-')
    spool, work, cfg = root + '/spool/', root + '/tempozip/', root + '/cfg/'
    for d in (spool, work, cfg, root + '/loghi', root + '/run', root + '/home'):
        os.makedirs(d, exist_ok=True)
    if a.ext4_full_seconds > 0:
        img = root + '/spool.img'
        with open(img, 'wb') as f:
            f.truncate(64 << 20)
        subprocess.run(['mkfs.ext4', '-q', '-F', img], check=True)
        subprocess.run(['mount', '-o', 'loop', img, spool], check=True)
        MOUNTS.append(spool)
    open(root + '/loghi/loghi.ini', 'w').write('[TABULATO]\nforzatura=o\n')
    sink = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, 'smtp_sink.py')], stdout=subprocess.PIPE, text=True)
    STARTED.append(sink)
    port = int(sink.stdout.readline())
    open(cfg + 'velarion.ini', 'w').write(
        '[AB]\nEMailAddr=ab@example.com\nPath=%s\nDir_Loghi=%s/loghi/\ntempozip_dir=%s\n'
        '[GLOBAL]\nTiming=100\nretry_delays=1s\n[MAPI]\nclient=Microsoft Outlook\ntransport=smtp://127.0.0.1:%d\n'
        % (spool, root, work, port))
    for i in range(a.messages):
        base = 'AB.%d' % i
        open(spool + base + '.h', 'w').write('RF%s\r\n\r\nab@example.com\r\nm%d@example.it\r\nMessaggio %s\r\n.\r\nSEND\r\n'
                                             % (base, i, base))
        open(spool + base + '.b', 'w').write('Testo di %s\r\n' % base)
        open(spool + base + '.T', 'w').write('')

    flag = root + '/pieno'
    env = dict(os.environ, HOME=root + '/home', XDG_RUNTIME_DIR=root + '/run', XDG_CONFIG_HOME=root + '/config',
               LD_PRELOAD=a.preload, REFUSE_RENAME_MATCH='@concluso')
    if a.full_seconds > 0:
        env['REFUSE_RENAME_WHILE'] = flag
    elif a.kills > 0 or a.ext4_full_seconds > 0:
        del env['LD_PRELOAD']
    else:
        env['REFUSE_RENAME_EVERY'] = str(a.refuse_every)
    runs = [0] * a.agents

    def launch(n):
        # Several agents of one operator on one machine, each its own instance lock folder.
        e = dict(env, XDG_RUNTIME_DIR=root + '/run%d' % n)
        os.makedirs(e['XDG_RUNTIME_DIR'], exist_ok=True)
        runs[n] += 1
        p = subprocess.Popen([a.agent, '--headless', 'ini:' + cfg, 'ope:AB'], env=e,
                                stdout=open(root + '/agent%d.%d.out' % (n, runs[n]), 'w'), stderr=subprocess.STDOUT)
        STARTED.append(p)
        return p

    agents = [launch(n) for n in range(a.agents)]
    kills = []  # (time, agent, run, its last line)
    next_kill = time.monotonic() + random.uniform(0.5, 1.5)
    first = {}
    got = collections.Counter()
    os.set_blocking(sink.stdout.fileno(), False)
    start = time.monotonic()
    full_until = None

    def read_sink():
        while True:
            line = sink.stdout.readline()
            if not line:
                return
            t, rcpt = line.split()[:2]
            got[rcpt] += 1
            first.setdefault(rcpt, float(t))

    while time.monotonic() - start < a.limit:
        read_sink()
        if a.full_seconds > 0 and full_until is None and got:
            open(flag, 'w').close()
            full_until = time.monotonic() + a.full_seconds
        if a.full_seconds > 0 and full_until is not None and time.monotonic() >= full_until \
                and os.path.exists(flag):
            os.remove(flag)
        if a.ext4_full_seconds > 0 and full_until is None and got:
            open(flag, 'w').close()
            full_until = time.monotonic() + a.ext4_full_seconds
            filler = threading.Thread(target=fill, args=(spool + 'riempitivo', full_until))
            filler.start()
        if a.ext4_full_seconds > 0 and full_until is not None and time.monotonic() >= full_until \
                and os.path.exists(spool + 'riempitivo'):
            filler.join()
            shutil.rmtree(spool + 'riempitivo')
            os.remove(flag)
        if len(kills) < a.kills and time.monotonic() >= next_kill:
            n = random.randrange(a.agents)
            agents[n].kill()
            t = time.monotonic()
            agents[n].wait()
            out = open(root + '/agent%d.%d.out' % (n, runs[n]), errors='replace').read().splitlines()
            kills.append((t, n, runs[n], out[-1] if out else ''))
            agents[n] = launch(n)
            next_kill = time.monotonic() + random.uniform(0.1, 0.6)
        if waiting(spool) == 0 and not os.path.exists(flag) and len(kills) >= a.kills:
            break
        time.sleep(0.2)
    time.sleep(1.5)
    read_sink()
    for p in agents:
        p.send_signal(signal.SIGTERM)
    for p in agents:
        try:
            p.wait(60)
        except subprocess.TimeoutExpired:
            p.kill()
    sink.kill()
    expected = ['m%d@example.it' % i for i in range(a.messages)]
    delivered = sum(1 for r in expected if got[r] > 0)
    duplicates = sum(got[r] - 1 for r in expected if got[r] > 1)
    parked = len(os.listdir(work + 'non_inviati')) if os.path.isdir(work + 'non_inviati') else 0
    print('messages %d delivered %d duplicates %d missing %d parked %d waiting %d kills %d (%s)'
          % (a.messages, delivered, duplicates, a.messages - delivered, parked, waiting(spool), len(kills), root))
    for r in expected:
        if got[r] > 1:
            after = [k for k in kills if k[0] >= first[r]]
            k = min(after, key=lambda k: k[0]) if after else None
            print('  duplicate %s: kill %s ms after its first acceptance, last line: %s'
                  % (r, '%.1f' % ((k[0] - first[r]) * 1000) if k else '-', k[3][:140] if k else '-'))


if __name__ == '__main__':
    try:
        main()
    finally:
        for p in STARTED:
            if p.poll() is None:
                p.kill()
        for m in MOUNTS:
            subprocess.run(['umount', '-l', m])
