#!/usr/bin/env bash
# Builds the native target and starts tarnterm on its simulated instrument
# (tarnterm --demo). Without a terminal on standard input, as in CI or a
# pipe, the demo runs a short scripted session and exits by itself. Extra
# arguments go to tarnterm.
set -euo pipefail
cd "$(dirname "$0")/.."
missing=()
for p in cmake ninja-build g++ googletest; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
cmake --preset native >/dev/null
cmake --build build/native -j2 --target tarnterm
exec build/native/bin/tarnterm --demo "$@"
