#!/usr/bin/env bash
# Installs every build and test dependency that is missing, with apt-get.
set -euo pipefail
packages=(cmake g++ make clang libspdlog-dev libfmt-dev libgtest-dev libgmock-dev libbenchmark-dev binutils valgrind ccache)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
command -v python3 >/dev/null || { apt-get update -qq && apt-get install -y -qq python3; }
command -v dotnet >/dev/null || { echo "the .NET SDK (dotnet) is required for the end-to-end tests" >&2; exit 1; }
