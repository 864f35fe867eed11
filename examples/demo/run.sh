#!/bin/sh
# Runs the agent headless once on a fresh copy of the sample installation,
# made by setup.sh in examples/demo/run/, with a local SMTP server that keeps
# the sent messages in run/sent.
# Usage: examples/demo/run.sh path/to/velarion
set -e
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
run="$here/run"
rm -rf "$run"

# Debian installs aiosmtpd for its own Python, not for one that may come first on PATH.
py=/usr/bin/python3
port=$($py -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"$here/setup.sh" "$run" "smtp://127.0.0.1:$port"

# A local SMTP server receives the messages the demo sends.
$py -m aiosmtpd -n -l "127.0.0.1:$port" -c aiosmtpd.handlers.Mailbox "$run/sent" &
smtp_pid=$!
trap 'kill $smtp_pid 2>/dev/null || true' EXIT
sleep 1

status=0
"$bin" --headless --once "ini:$run" ope:AB || status=$?
echo
echo "Work directory: $run/tempozip"
ls -l "$run/tempozip" 2>/dev/null || true
echo "Drafts: $(find "$run/posta" -type f 2>/dev/null | wc -l)  Sent: $(find "$run/sent/new" -type f 2>/dev/null | wc -l)"
exit $status
