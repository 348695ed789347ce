#!/bin/bash
# Runs the end-to-end full-disk test with its install folder on a small drive:
# a 160 KB tmpfs mapped as drive S: of the bench's prefix, gone afterwards.
#   small_drive.sh <build> e2e_install.exe
set -u
build=$1
program=$2
link=$build/wineprefix/dosdevices/s:
[ -e "$link" ] && { echo "drive S: is taken in the prefix"; exit 1; }
mnt=$(mktemp -d)
# Mounting needs root: without it the run is reported skipped (77), not passed.
mount -t tmpfs -o size=160k,mode=0777 tmpfs "$mnt" || { rmdir "$mnt"; exit 77; }
trap 'rm -f "$link"; umount "$mnt"; rmdir "$mnt"' EXIT
ln -sfn "$mnt" "$link"  # over a stale link a killed run left
SETUP_SMALL_DRIVE=S: "$(dirname "$0")/../support/wine-run.sh" "$build" "$program" --gtest_filter='EndToEnd.FullDisk*'
