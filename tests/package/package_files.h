#pragma once
// Builds compound files with the platform's structured-storage writer and
// appends them to copies of an executable in the block layout.
#include <windows.h>

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

namespace package_files {

typedef std::vector<std::pair<std::string, std::string>> Streams;  // name, content

// A compound file (its bytes) holding folder with the given streams; an
// empty folder name puts the streams in the root.
std::string MakeCompoundFile(const std::string& scratch_path, const std::string& folder, const Streams& streams);

std::string Offset(uint32_t value);
// Appends a package block: the compound file, "Bulk", its start, "Suffix".
void AppendPackage(std::string& file, const std::string& compound);
// Appends an unrelated block: body, its start, "Suffix".
void AppendOther(std::string& file, const std::string& body);
// Appends a 267-byte parameter block whose text ends at position 258.
void AppendParameters(std::string& file, const std::string& text);

// The running test program's bytes: a real executable image.
std::string OwnImage();

}  // namespace package_files
