#pragma once
// Builds compound files with the platform's structured-storage writer and
// appends them to copies of an executable in the block layout.
#include <windows.h>

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/package/block_layout.h"

namespace package_files {

using namespace block_layout;

typedef std::vector<std::pair<std::string, std::string>> Streams;  // name, content

// A compound file (its bytes) holding folder with the given streams; an
// empty folder name puts the streams in the root.
std::string MakeCompoundFile(const std::string& scratch_path, const std::string& folder, const Streams& streams);

// The running test program's bytes: a real executable image.
std::string OwnImage();

}  // namespace package_files
