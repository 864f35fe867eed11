#!/bin/sh
# Runs the agent headless once on a fresh copy of the sample installation.
# Usage: examples/demo/run.sh path/to/velarion
set -e
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
run="$here/run"
rm -rf "$run"
mkdir -p "$run"
for item in spool loghi unione; do
    [ -d "$here/$item" ] && cp -r "$here/$item" "$run/"
done
mkdir -p "$run/tempozip" "$run/send" "$run/posta" "$run/sent"

# A local SMTP server receives the messages the demo sends.
# Debian installs aiosmtpd for its own Python, not for one that may come first on PATH.
py=/usr/bin/python3
port=$($py -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$run/sent/tmp" "$run/sent/new" "$run/sent/cur"
$py -m aiosmtpd -n -l "127.0.0.1:$port" -c aiosmtpd.handlers.Mailbox "$run/sent" &
smtp_pid=$!
trap 'kill $smtp_pid 2>/dev/null || true' EXIT
sleep 1

sed -e "s|@RUN@|$run|g" -e "s|@SMTP_PORT@|$port|g" "$here/velarion.ini.in" > "$run/velarion.ini"
# The page styles name folders of the run as well (the copy folder of "dircopy").
[ -f "$run/loghi/loghi.ini" ] && sed -i "s|@RUN@|$run|g" "$run/loghi/loghi.ini"
mkdir -p "$run/copie"
# The spool's trigger files are written last, as the business application does.
find "$run/spool" -maxdepth 1 -name '*.T.demo' | while read -r t; do mv "$t" "${t%.demo}"; done

status=0
"$bin" --headless --once "ini:$run" ope:AB || status=$?
echo
echo "Work directory: $run/tempozip"
ls -l "$run/tempozip" 2>/dev/null || true
echo "Drafts: $(find "$run/posta" -type f 2>/dev/null | wc -l)  Sent: $(find "$run/sent/new" -type f 2>/dev/null | wc -l)"
exit $status
