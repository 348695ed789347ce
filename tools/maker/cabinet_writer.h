#pragma once
// A cabinet with one folder and no compression ("stored"): small, and read
// by every cabinet reader, which the platform offers while it has no writer.
#include <stdint.h>

#include <string>
#include <vector>

struct CabinetEntry {
  std::string name;    // as the reader reports it, e.g. "NewUpdate.exe"
  std::string bytes;
  uint16_t dosDate;    // modification time in the format's DOS form
  uint16_t dosTime;
};

// The cabinet's bytes in result; false with a reason in error when the
// entries do not fit the format (names, sizes, counts).
bool BuildStoredCabinet(const std::vector<CabinetEntry>& entries, std::string* result, std::string* error);
