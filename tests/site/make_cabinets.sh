#!/bin/sh
# Builds the cabinets the file fetcher tests unpack, with gcab.
# Usage: make_cabinets.sh <output folder> <updater program> <test certificates>
set -eu
out=$1
updater=$2
certs=$3
work=$out/work
rm -rf "$out"
mkdir -p "$work"
cd "$work"

# Deterministic bytes that do not compress much, so a cut lands inside data.
noise() { perl -e 'my $x = $ARGV[1]; for (1 .. $ARGV[0]) { $x = ($x * 1103515245 + 12345) % 2147483648; print chr(($x >> 16) & 255) }' "$1" "$2"; }

printf 'updater from a stored cabinet' > NewUpdate.exe
gcab -c "$out/one_stored.cab" NewUpdate.exe

printf 'updater from a zipped cabinet' > NewUpdate.exe
printf 'read me\r\n' > readme.txt
noise 100000 7 > data.bin
gcab -c -z "$out/three_mszip.cab" NewUpdate.exe readme.txt data.bin
# The same signed by the publisher: only such a cabinet is unpacked whole.
bash "$certs/sign-file.sh" signer "$out/three_mszip.cab" "$out/three_signed.cab"

# Unpacks well but brings no updater.
gcab -c "$out/no_updater.cab" readme.txt data.bin

# gcab drops "..\" from names, so a same-length name is patched in afterwards
# (the entry table carries no checksum).
printf 'updater before the escape' > NewUpdate.exe
printf 'escaped' > XXXevil.exe
gcab -c "$out/evil.cab" NewUpdate.exe XXXevil.exe
perl -0777 -pi -e 's/XXXevil\.exe/..\\evil.exe/ or die' "$out/evil.cab"

noise 400000 11 > NewUpdate.exe
gcab -c -z "$out/whole.cab" NewUpdate.exe
size=$(wc -c < "$out/whole.cab")
head -c $((size * 3 / 5)) "$out/whole.cab" > "$out/cut.cab"
rm "$out/whole.cab"

# An entry name that cannot fit the reader's 260-character target in any folder.
long=$(printf 'L%.0s' $(seq 1 250)).exe
printf 'long' > "$long"
gcab -c "$out/long_name.cab" "$long"

# The first cabinet of a set: its one file goes on in "part2.cab", which
# does not exist. gcab makes no sets, so the bytes are laid out here.
python3 - "$out/set_part1.cab" <<'PY'
import struct, sys
name = b"NewUpdate.exe\0"
data = b"first half"
next_cabinet = b"part2.cab\0" + b"disk2\0"
files_at = 36 + len(next_cabinet) + 8
entry = struct.pack("<IIHHHH", 20, 0, 0xFFFE, 0x5987, 0, 0x20) + name  # continued in the next cabinet
data_at = files_at + len(entry)
block = struct.pack("<IHH", 0, len(data), len(data)) + data
header = b"MSCF" + struct.pack("<IIIII", 0, data_at + len(block), 0, files_at, 0) + bytes([3, 1])
header += struct.pack("<HHHHH", 1, 1, 2, 0x1234, 0)  # one folder, one file, next cabinet named
folder = struct.pack("<IHH", data_at, 1, 0)
open(sys.argv[1], "wb").write(header + next_cabinet + folder + entry + block)
PY

cp "$updater" NewUpdate.exe
gcab -c -z "$out/updater.cab" NewUpdate.exe

cd "$out"
rm -rf "$work"
