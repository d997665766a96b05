#!/usr/bin/env bash
# Installs, on Debian 12, whatever the build, the tests and the window need and is
# not there yet; then the npm reader used as a test oracle. Safe to run repeatedly.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  build-essential cmake ninja-build clang libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libgl-dev fonts-liberation xvfb xauth
  mdbtools xz-utils
  qt6-translations-l10n scdoc librsvg2-bin lintian file
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
command -v node >/dev/null 2>&1 && command -v npm >/dev/null 2>&1 || missing+=(nodejs npm)

if [ ${#missing[@]} -gt 0 ]; then
  echo "install_deps: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" = 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

oracles="$here/tools/oracles"
if [ -f "$oracles/package.json" ] && [ ! -d "$oracles/node_modules/mdb-reader" ]; then
  echo "install_deps: installing the npm test oracle (mdb-reader)"
  (cd "$oracles" && npm ci --no-audit --no-fund --loglevel=error)
fi
