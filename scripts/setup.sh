#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with, when missing.
# Idempotent and quiet when everything is present.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  libboost-dev libboost-program-options-dev libboost-filesystem-dev libboost-system-dev
  libglibmm-2.4-dev libxml++2.6-dev libsndfile1-dev libfftw3-dev
  libgtest-dev
  clang libclang-rt-14-dev
  python3 python3-numpy python3-matplotlib
  libnetcdf-dev libhdf5-dev libmysofa-dev python3-netcdf4
  libeigen3-dev
  python3-scipy  # the numpy script of bench/tfinterp (its convex hull)
  # tsprec's back ends; jackd2 runs its tests' dummy server, time its benchmark
  libasound2-dev libjack-jackd2-dev jackd2 time
  help2man
  bc  # the benchmarks' arithmetic
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
