#!/usr/bin/env bash
# The main job of `make run`: the window when a display is available, otherwise
# the command-line tool on a scratch copy of a sample database.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bin="$here/build/default"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$bin/app/compactador" ]; then
  exec "$bin/app/compactador"
fi

work="$here/build/run"
mkdir -p "$work"
sample="$work/amostra.mdb"
cp "$here/tests/data/corpus/jet4/testV2003.mdb" "$sample"
chmod u+w "$sample"
echo "make run: no display; running the command-line tool on $sample" >&2
"$bin/cli/compactar" "$sample"
status=$?
echo "make run: compactar ended with exit status $status" >&2
ls -l "$sample" "$bin/cli"/compac0?.mdb 2>/dev/null >&2 || true
exit 0
