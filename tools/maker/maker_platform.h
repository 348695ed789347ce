#pragma once
// What the maker's tool takes from the system it runs on: the compound-file
// package, the signature check, and a few file and text rules. One source per
// system (maker_platform_win.cpp, maker_platform_posix.cpp); the commands in
// maker.cpp are the same everywhere.
#include <stdint.h>

#include <string>
#include <vector>

#include "install/signer_rules.h"

struct PackageStream {
  std::string name;
  std::string bytes;
};

// The package's compound file: one folder holding the streams, in order.
bool BuildCompoundFile(const std::string& folder, const std::vector<PackageStream>& streams, std::string* bytes,
                       std::string* error);
// Prints the folders and streams of the package that starts at start in the
// file (path names it, bytes holds it whole).
void ShowPackage(const std::string& path, const std::string& bytes, uint32_t start, uint32_t length);

// Element names as the package stores them: their length in UTF-16 units
// (0 when the name does not convert), and equality as the reader looks them
// up (without regard to case).
size_t ElementNameLength(const std::string& name);
bool SameElementName(const std::string& a, const std::string& b);

// Whether two paths name the same file.
bool SamePath(const std::string& a, const std::string& b);
// The file's modification time, local, in the DOS form cabinets keep.
bool FileDosTime(const std::string& path, uint16_t* date, uint16_t* time);
// Puts from over to, replacing it; from is gone either way.
bool ReplaceFileWith(const std::string& from, const std::string& to, std::string* error);
// Standard input and output carry bytes unchanged (a pipe of images).
void UseBinaryStandardStreams();

// The roots a check trusts: the system's own, or files given with --ca.
// A system whose check cannot take root files says so in *error.
bool TakeRootFiles(const std::vector<std::string>& files, std::string* error);
// Reads the signature of the file (path names it, bytes holds it whole) and
// fills report as Setup.exe's check does. False when the check cannot be
// made at all, with the reason in *error. *signingTime tells what time the
// chain was judged at (the signer's timestamp, or now); empty where the
// system's check does not say.
bool InspectSigner(const std::string& path, const std::string& bytes, SignerReport* report, std::string* signingTime,
                   std::string* error);
// The signer this build accepts by default: what Setup.exe built alike
// accepts (publisher, thumbprints, pins).
const SignerPolicy& BuiltPolicy();
// UTF-16 units as UTF-8; empty when they do not convert.
std::string Utf16Text(const uint16_t* units, size_t count);
