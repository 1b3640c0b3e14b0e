#!/usr/bin/env bash
# Installs what is missing on a Debian machine.
#   setup.sh build   what building the Linux program needs
#   setup.sh test    that, plus what the tests need: the Windows
#                    cross-compiler and Wine to run the Windows program
set -euo pipefail
mode=${1:-test}

packages=()
command -v cmake >/dev/null || packages+=(cmake)
command -v g++ >/dev/null || packages+=(g++)
command -v make >/dev/null || packages+=(make)
[ -f /usr/include/gtest/gtest.h ] || packages+=(libgtest-dev)
[ -f /usr/include/gmock/gmock.h ] || packages+=(libgmock-dev)
add_i386=false
if [ "$mode" = test ]; then
  command -v i686-w64-mingw32-g++-posix >/dev/null || packages+=(g++-mingw-w64-i686)
  command -v wine >/dev/null || packages+=(wine)
  # The 32-bit Windows program needs Wine's 32-bit half.
  if ! dpkg -s wine32:i386 >/dev/null 2>&1; then
    packages+=(wine32:i386)
    dpkg --print-foreign-architectures | grep -qx i386 || add_i386=true
  fi
  # Shows that tunnel.cfg reaches the disk before it is replaced.
  command -v strace >/dev/null || packages+=(strace)
  # The fuzz targets: clang and its libFuzzer and sanitizer runtimes.
  command -v clang++ >/dev/null || packages+=(clang)
  compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null ||
    packages+=(libclang-rt-dev)
fi

if [ ${#packages[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "setup: installing ${packages[*]}"
  if $add_i386; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${packages[@]}"
fi
