#!/bin/bash
# Installs, with apt-get, what building and testing need on Debian 12.
# Both Windows targets build with clang 19 and lld 19 over the mingw-w64
# packages' headers and libraries (docs/test-bench.md: the toolchain); llvm-19 brings the
# archiver that indexes bitcode. The fuzzing harnesses need clang with
# libFuzzer (libclang-rt-14-dev, only recommended by clang) and llvm's
# coverage tools. squid is the tests' forward proxy that asks for credentials
# (started by the tests themselves, never as a service).
# The native maker's tool reads and writes the package with libgsf and checks
# signatures with OpenSSL and serves stamped downloads through libfcgi under
# spawn-fcgi; wrk times them. The window tests run in other languages: Wine
# takes the language from LANG, which needs the host's compiled locales
# (locales-all), and Japanese and Arabic need fonts with their scripts.
set -e
packages="cmake ninja-build g++ make g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  gcc-mingw-w64-i686-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64 xvfb xauth x11-utils gcab nginx-light imagemagick googletest python3 iproute2 util-linux
  osslsigncode openssl libc6-i386 clang libclang-rt-14-dev llvm squid clang-19 lld-19 llvm-19
  pkg-config libgsf-1-dev libssl-dev libfcgi-dev spawn-fcgi wrk curl locales-all fonts-wqy-microhei fonts-kacst"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends $missing
fi
