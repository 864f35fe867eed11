#!/bin/sh
# Makes a working copy of the sample installation in FOLDER: the spool with
# its six messages (their trigger files written last), the page styles, the
# merge folder, empty work, save and mail folders, and velarion.ini with the
# folder's absolute paths. TRANSPORT is the mail transport of the sent
# messages (default: sendmail://localhost).
# Usage: setup.sh FOLDER [TRANSPORT]
set -e
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "usage: $0 FOLDER [TRANSPORT]" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$1"
run=$(cd "$1" && pwd)
transport=${2:-sendmail://localhost}

for item in spool loghi unione; do
    rm -rf "${run:?}/$item"
    cp -r "$here/$item" "$run/"
done
chmod -R u+w "$run"
mkdir -p "$run/tempozip" "$run/send" "$run/posta" "$run/copie" \
    "$run/sent/tmp" "$run/sent/new" "$run/sent/cur"

sed -e "s|@RUN@|$run|g" -e "s|@TRANSPORT@|$transport|g" "$here/velarion.ini.in" > "$run/velarion.ini"
# The page styles name folders of the installation as well (the copy folder of "dircopy").
sed -i "s|@RUN@|$run|g" "$run/loghi/loghi.ini"
# The spool's trigger files are written last, as the business application does.
find "$run/spool" -maxdepth 1 -name '*.T.demo' | while read -r t; do mv "$t" "${t%.demo}"; done
echo "Sample installation in $run (operator AB, configuration folder $run)"
