# shellcheck shell=bash
# Sourced (bash). The 32-bit half of Wine that runs the shipped i686
# programs beside the system's wine64: Debian's i386 wine32 and the libraries
# it needs, fetched with an apt configuration of our own (the machine's
# sources, lists and package state are never changed) and unpacked into a
# cache folder that later runs reuse. The system's wine64 and wineserver stay
# the 64-bit half.
#
# Where the kernel runs i386 code, the 32-bit loader runs natively against
# the host's i386 C library (libc6-i386). Where it does not, qemu's user-mode
# emulator runs it, registered through binfmt_misc under a name of our own
# only while a bench needs it (wine32_binfmt_on / wine32_binfmt_off).
#
#   wine32_prepare CACHE   fetch and unpack once; sets up the tree
#   wine32_route CACHE     "native" or "emulated" ($SETUP_WINE32_ROUTE overrides)
#   wine32_env CACHE ROUTE exports WINE32_WINE (wine64 of the tree), WINE32_SERVER
#                          and what the 32-bit loader needs
#   wine32_binfmt_on NAME CACHE / wine32_binfmt_off NAME
#   wine32_make_prefix PREFIX LOG [CA.der]

wine32_binfmt=/proc/sys/fs/binfmt_misc

wine32_log() { printf 'wine32: %s\n' "$*" >&2; }

# The machine's own mirror for a suite, from its apt sources (one-line or
# deb822 format), so that the private configuration asks the same servers.
wine32_mirror() {  # suite
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    awk -v s="$1" '$1 == "deb" { i = 2; if ($2 ~ /^\[/) while ($i !~ /\]$/) i++; if ($2 ~ /^\[/) i++;
      if ($(i + 1) == s) { print $i; exit } }' "$f"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk -v s="$1" 'BEGIN { RS = ""; FS = "\n" } {
      uri = ""; ok = 0
      for (i = 1; i <= NF; i++) {
        if ($i ~ /^URIs:/) { split($i, a, " "); uri = a[2] }
        if ($i ~ /^Suites:/) { n = split($i, b, " "); for (j = 2; j <= n; j++) if (b[j] == s) ok = 1 }
      }
      if (ok && uri != "") { print uri; exit } }' "$f"
  done
}

# apt-get/apt-cache options of the private configuration in $1/apt.
wine32_apt_options() {
  local apt=$1/apt
  printf '%s\n' -o "Dir::Etc::SourceList=$apt/sources.list" -o "Dir::Etc::SourceParts=$apt/parts" \
    -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o "Dir::State::status=$apt/status" \
    -o "APT::Architectures::=amd64" -o "APT::Architectures::=i386" -o "APT::Sandbox::User=root" \
    -o "Debug::NoLocking=1"
}

wine32_apt_init() {  # cache
  local apt=$1/apt codename main security
  [ -f "$apt/ready" ] && return 0
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  main=$(wine32_mirror "$codename" | head -1)
  security=$(wine32_mirror "$codename-security" | head -1)
  [ -n "$main" ] || { wine32_log "no apt source for $codename on this machine"; return 1; }
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/parts"
  : >"$apt/status"
  local opts="arch=amd64,i386 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg"
  {
    echo "deb [$opts] $main $codename main"
    echo "deb [$opts] $main $codename-backports main"
    [ -z "$security" ] || echo "deb [$opts] $security $codename-security main"
  } >"$apt/sources.list"
  mapfile -t o < <(wine32_apt_options "$1")
  apt-get "${o[@]}" -qq update >"$1/apt-update.log" 2>&1 || { cat "$1/apt-update.log" >&2; return 1; }
  touch "$apt/ready"
}

# Downloads packages (apt-get download arguments) into $1/debs.
wine32_download() {
  local cache=$1; shift
  mapfile -t o < <(wine32_apt_options "$cache")
  mkdir -p "$cache/debs"
  (cd "$cache/debs" && apt-get "${o[@]}" -qq download "$@") >"$cache/download.log" 2>&1 ||
    { cat "$cache/download.log" >&2; return 1; }
}

wine32_prepare() {  # cache
  local cache=$1 root=$1/root d
  if [ ! -f "$root/.complete" ]; then
    wine32_log "fetching Debian's i386 wine32 into $cache (first run only)"
    wine32_apt_init "$cache" || return 1
    mapfile -t o < <(wine32_apt_options "$cache")
    # The i386 closure of wine32; amd64 and arch-independent packages are the host's.
    local closure
    closure=$(apt-cache "${o[@]}" depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
      --no-replaces --no-enhances wine32:i386 | grep -E '^[a-z0-9][^ ]*:i386$' | sort -u)
    [ -n "$closure" ] || { wine32_log "wine32:i386 not found in the package lists"; return 1; }
    # shellcheck disable=SC2086
    wine32_download "$cache" $closure || return 1
    rm -rf "$root"
    mkdir -p "$root"
    for d in "$cache"/debs/*_i386.deb; do dpkg -x "$d" "$root" || return 1; done
    # The i386 loader must find the tree's libraries through a cache of the tree.
    echo 'include /etc/ld.so.conf.d/*.conf' >"$root/etc/ld.so.conf"
    ldconfig -r "$root" || return 1
    # Natively the host's i386 C library runs the loader: the tree's own C
    # library must not be mixed with it, so the native library path links
    # every other library of the tree.
    local glibc
    glibc=$(dpkg-deb -c "$cache"/debs/libc6_*_i386.deb | awk '{print $6}' | sed -n 's|.*/||p' | sort -u)
    rm -rf "$cache/native-lib"
    mkdir -p "$cache/native-lib"
    for d in "$root"/lib/i386-linux-gnu/* "$root"/usr/lib/i386-linux-gnu/*; do
      [ -f "$d" ] || continue
      grep -qxF "${d##*/}" <<<"$glibc" || ln -sf "$d" "$cache/native-lib/"
    done
    # The unpacked tree is what later runs reuse; the packages are not kept.
    rm -rf "$root"/usr/share/doc "$root"/usr/share/man "$root"/usr/share/locale "$cache/debs"
    touch "$root/.complete"
  fi
  wine32_link_halves "$cache"
}

# The 32-bit loader starts wine64 and wineserver from its own folder, and
# wine64 finds the 32-bit DLLs beside its own library folder: the tree gets
# the system's wine64, links to its 64-bit libraries and zlib1.dll (a
# separate package that Wine's 32-bit user32 needs).
wine32_link_halves() {
  local root=$1/root lib64=/usr/lib/x86_64-linux-gnu/wine f
  local tree64=$root/usr/lib/x86_64-linux-gnu/wine
  cmp -s /usr/lib/wine/wine64 "$root/usr/lib/wine/wine64" || cp /usr/lib/wine/wine64 "$root/usr/lib/wine/wine64"
  mkdir -p "$tree64/x86_64-unix"
  for f in "$lib64"/x86_64-unix/*; do
    [ -e "$tree64/x86_64-unix/${f##*/}" ] || ln -s "$f" "$tree64/x86_64-unix/"
  done
  [ -e "$tree64/x86_64-windows" ] || ln -s "$lib64/x86_64-windows" "$tree64/x86_64-windows"
  [ -e "$tree64/i386-windows" ] || ln -s ../../i386-linux-gnu/wine/i386-windows "$tree64/i386-windows"
  f=$root/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll
  [ -f "$f" ] || cp /usr/i686-w64-mingw32/lib/zlib1.dll "$f"
}

# A static i386 program that exits with the first letter of the machine
# name uname reports: "x" (x86_64) when the kernel runs it itself, "i"
# (i686) under an emulator; no exit at all when the kernel cannot run it.
wine32_route() {  # cache
  if [ -n "${SETUP_WINE32_ROUTE:-}" ]; then echo "$SETUP_WINE32_ROUTE"; return; fi
  local probe=$1/probe
  if [ ! -x "$probe" ]; then
    mkdir -p "$1"
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08'`
      `'\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'`
      `'\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x6e\x00\x00\x00\x00\x04\x00\x00'`
      `'\x07\x00\x00\x00\x00\x10\x00\x00'`
      `'\xb8\x7a\x00\x00\x00\xbb\x00\x81\x04\x08\xcd\x80\x0f\xb6\x1d\x04\x82\x04\x08\xb8\x01\x00\x00\x00\xcd\x80' \
      >"$probe.tmp" && chmod +x "$probe.tmp" && mv "$probe.tmp" "$probe"
  fi
  "$probe" 2>/dev/null
  if [ $? -eq 120 ] && [ -e /lib/ld-linux.so.2 ]; then echo native; else echo emulated; fi
}

wine32_env() {  # cache route
  local root=$1/root
  export WINE32_ROUTE=$2
  export WINE32_WINE=$root/usr/lib/wine/wine64
  export WINE32_SERVER=$root/usr/lib/wine/wineserver
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES="mscoree,mshtml="
  if [ "$2" = native ]; then
    export LD_LIBRARY_PATH=$1/native-lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
  else
    export QEMU_LD_PREFIX=$root
  fi
}

wine32_fetch_qemu() {  # cache
  local cache=$1 codename
  [ -x "$cache/qemu-i386" ] && return 0
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  wine32_apt_init "$cache" || return 1
  # The release's own qemu (7.2) takes a minute of CPU per Wine start; the
  # backported one a third of a second.
  wine32_download "$cache" "qemu-user/$codename-backports" || return 1
  rm -rf "$cache/qemu"
  dpkg -x "$cache"/debs/qemu-user_*.deb "$cache/qemu" || return 1
  mv "$cache/qemu/usr/bin/qemu-i386" "$cache/qemu-i386"
  rm -rf "$cache/qemu" "$cache"/debs/qemu-user_*.deb
}

wine32_binfmt_on() {  # name cache
  wine32_fetch_qemu "$2" || return 1
  if [ ! -e "$wine32_binfmt/register" ]; then
    mount -t binfmt_misc binfmt_misc "$wine32_binfmt" || return 1
  fi
  wine32_binfmt_off "$1"
  # i386 ELF executables and shared objects; F: the emulator is opened now,
  # so it is found from any mount namespace.
  printf ':%s:M::%s:%s:%s:F' "$1" \
    '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00' \
    '\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff' \
    "$2/qemu-i386" >"$wine32_binfmt/register"
}

wine32_binfmt_off() {  # name
  if [ -e "$wine32_binfmt/$1" ]; then echo -1 >"$wine32_binfmt/$1"; fi
  return 0
}

# A prefix of both halves: made by wine64 while the 32-bit loader is there,
# so that syswow64 gets the 32-bit DLLs; no persistent wineserver may run.
# Then the benches' display settings and, when given, a test authority
# trusted as a root (the key is shared by both registry views).
wine32_make_prefix() {  # prefix log [ca.der]
  local prefix=$1 log=$2 ca=${3:-} sha blob
  export WINEPREFIX=$prefix
  "$WINE32_WINE" wineboot -i >"$log" 2>&1
  local status=$?
  "$WINE32_SERVER" -w
  [ -f "$prefix/drive_c/windows/syswow64/kernel32.dll" ] ||
    { wine32_log "no 32-bit DLLs in $prefix (wineboot ended with $status; see $log)"; return 1; }
  cp "${WINE32_WINE%/wine/wine64}/i386-linux-gnu/wine/i386-windows/zlib1.dll" "$prefix/drive_c/windows/syswow64/"
  "$WINE32_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >>"$log" 2>&1
  "$WINE32_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >>"$log" 2>&1
  if [ -n "$ca" ]; then
    # The store's serialized form: property 32 (the encoded certificate),
    # a reserved 1, the length, the bytes.
    sha=$(sha1sum "$ca" | cut -c1-40 | tr a-f A-F)
    blob=$( { printf '\x20\x00\x00\x00\x01\x00\x00\x00'; wine32_le32 "$(stat -c %s "$ca")"; cat "$ca"; } | od -An -v -tx1 | tr -d ' \n')
    "$WINE32_WINE" reg add "HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\$sha" /v Blob \
      /t REG_BINARY /d "$blob" /f >>"$log" 2>&1 || return 1
  fi
  "$WINE32_SERVER" -w
}

wine32_le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))\\x$(printf %02x $(($1 >> 16 & 255)))\\x$(printf %02x $(($1 >> 24 & 255)))"; }
