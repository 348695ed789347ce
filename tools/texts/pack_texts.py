#!/usr/bin/env python3
"""Packs the program's texts, one file per language, into resources.

    pack_texts.py <texts-folder> <out-folder>

Reads <texts-folder>/<code>.txt (en.txt gives the keys, their order and their
placeholders) and writes into <out-folder>:
  texts.lznt1   every language's texts: UTF-8 texts, each ended by a zero (the
                language ids as four hex digits, an empty text, then each
                language's texts in the order of en.txt), LZNT1-compressed
                behind their unpacked size (as the picture; the program unpacks
                with RtlDecompressBuffer). One pack for all: the languages
                share words and one resource entry, about 1.3 KB less than a
                pack each; UTF-8 packs about a tenth smaller than UTF-16;
  texts.rc      the pack as TEXTS resource 1;
  ui_text_ids.h the keys as an enum for the program.
A language that lacks a key, has one en.txt lacks, or whose placeholders differ
from English's is refused.
"""
import hashlib
import os
import re
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "picture"))
from draw_picture import lznt1_compress, lznt1_decompress  # noqa: E402

# The file of each language and the language id it is found under. Neutral
# sub-languages, so every country's form finds it; Chinese is the Simplified
# one alone (PRC), which the Traditional readers would not expect. Packed in
# this order, which the program does not depend on: of the orders tried it
# packs smallest (each language finds words to share within reach of the
# compressor's 4 KB chunks; 175 bytes less than English first and related
# languages side by side). A new language goes where it packs smallest.
LANGUAGES = {
    "es": 0x000A, "pt": 0x0016, "it": 0x0010, "fr": 0x000C, "en": 0x0009, "pl": 0x0015, "ru": 0x0019,
    "nl": 0x0013, "de": 0x0007, "tr": 0x001F, "ar": 0x0001, "ja": 0x0011, "zh": 0x0804,
}
NAMES = {"product": "\x01", "family": "\x02", "maker": "\x03"}
ARGUMENTS = {"1": "\x11", "2": "\x12", "3": "\x13"}
PLACEHOLDER = re.compile(r"\{([a-z0-9]+)\}")
LINE = re.compile(r'^([a-z_]+) = "((?:[^"\\]|\\.)*)"$')


def read_texts(path):
    """The file's texts by key, in file order; exits on a malformed line."""
    texts = {}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\r\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            m = LINE.match(line)
            if not m:
                sys.exit('%s:%d: not key = "text"' % (path, number))
            key, raw = m.groups()
            if key in texts:
                sys.exit("%s:%d: %s given twice" % (path, number, key))
            text = re.sub(r"\\(.)", lambda e: {"n": "\n"}.get(e.group(1), e.group(1)), raw)
            for name in PLACEHOLDER.findall(text):
                if name not in NAMES and name not in ARGUMENTS:
                    sys.exit("%s:%d: unknown placeholder {%s}" % (path, number, name))
            texts[key] = text
    return texts


def placeholders(text):
    """The placeholders a text uses; a translation may name one more often."""
    return sorted(set(PLACEHOLDER.findall(text)))


def encode(text):
    text = PLACEHOLDER.sub(lambda m: NAMES.get(m.group(1)) or ARGUMENTS[m.group(1)], text)
    return text.replace("\n", "\r\n").encode("utf-8") + b"\0"


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    source, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    english = read_texts(os.path.join(source, "en.txt"))
    found = sorted(f[:-4] for f in os.listdir(source) if f.endswith(".txt"))
    for code in found:
        if code not in LANGUAGES:
            sys.exit("%s.txt: no language id for %s" % (code, code))
    found.sort(key=list(LANGUAGES).index)
    blocks = []
    for code in found:
        texts = english if code == "en" else read_texts(os.path.join(source, code + ".txt"))
        missing = [k for k in english if k not in texts]
        extra = [k for k in texts if k not in english]
        if missing or extra:
            sys.exit("%s.txt: missing %s, unknown %s" % (code, missing, extra))
        for key, text in english.items():
            if placeholders(texts[key]) != placeholders(text):
                sys.exit("%s.txt: %s has placeholders %s, English %s" % (code, key, placeholders(texts[key]),
                                                                        placeholders(text)))
        blocks.append(b"".join(encode(texts[key]) for key in english))
    # One pack for all languages: their ids, an empty text, then each
    # language's texts in the order of the ids.
    unpacked = b"".join(encode("%04x" % LANGUAGES[code]) for code in found) + encode("") + b"".join(blocks)
    packed = lznt1_compress(unpacked)
    if lznt1_decompress(packed) != unpacked:
        sys.exit("LZNT1 round trip failed")
    blob = struct.pack("<I", len(unpacked)) + packed
    path = os.path.join(out, "texts.lznt1")
    # An unchanged pack keeps its time, so the resources are not rebuilt.
    if not os.path.exists(path) or open(path, "rb").read() != blob:
        with open(path, "wb") as f:
            f.write(blob)
    # The pack's digest: the script changes with it, so every program that
    # compiles it is rebuilt (the build sees the script, not the file it names).
    rc = ["// Made by tools/texts/pack_texts.py from resources/texts: do not edit.",
          "// pack %s" % hashlib.sha256(blob).hexdigest(), '1 TEXTS "%s"' % path.replace("\\", "/")]
    header = ["// Made by tools/texts/pack_texts.py from resources/texts/en.txt: do not edit.", "#pragma once",
              "enum UiText {"]
    for key in english:
        header.append("  kUi%s," % "".join(part.capitalize() for part in key.split("_")))
    header += ["  kUiTextCount", "};", ""]
    for name, body in (("texts.rc", "\n".join(rc) + "\n"), ("ui_text_ids.h", "\n".join(header))):
        path = os.path.join(out, name)
        if not os.path.exists(path) or open(path, encoding="utf-8").read() != body:
            with open(path, "w", encoding="utf-8") as f:
                f.write(body)
    # What each language adds: its texts packed after all the others'.
    shares = []
    for i, code in enumerate(found):
        rest = b"".join(b for j, b in enumerate(blocks) if j != i)
        shares.append("%s %d" % (code, len(packed) - len(lznt1_compress(rest))))
    print("texts: %d languages, %d bytes packed (%d unpacked); each language adds: %s" % (
        len(found), len(blob), len(unpacked), ", ".join(shares)))


if __name__ == "__main__":
    main()
