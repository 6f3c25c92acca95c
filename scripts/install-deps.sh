#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; a no-op when all are present.
# Usage: scripts/install-deps.sh [build|test]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mode=${1:-test}
# scripts/deps/build*.txt: needed to build and run; test*.txt: needed only by the tests.
shopt -s nullglob
lists=("$here"/deps/build*.txt)
[ "$mode" = test ] && lists+=("$here"/deps/test*.txt)
mapfile -t pkgs < <(cat "${lists[@]}" | sed 's/#.*//' | tr -s ' \t' '\n' | sed '/^$/d' | sort -u)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
