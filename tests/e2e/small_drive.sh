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
mount -t tmpfs -o size=160k,mode=0777 tmpfs "$mnt" || { rmdir "$mnt"; exit 1; }
trap 'rm -f "$link"; umount "$mnt"; rmdir "$mnt"' EXIT
ln -s "$mnt" "$link"
SETUP_SMALL_DRIVE=S: "$(dirname "$0")/../support/wine-run.sh" "$build" "$program" --gtest_filter='EndToEnd.FullDisk*'
