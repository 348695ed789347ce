#pragma once
#include <stddef.h>

// What the setup program hands its updater, read back from the updater's
// command line: "<program>" /Setup=<name>[ /Codes=<codes>][ /Bulk="<path>"].
// Values longer than a field are refused: the field stays empty and its
// too_long flag is set, so the window and the log say so instead of
// showing a cut value.
struct UpdaterArguments {
  enum { kFieldSize = 600 };  // the setup's whole argument text fits in 599
  char program[kFieldSize];
  char setup[kFieldSize];
  char codes[kFieldSize];
  char bulk[kFieldSize];     // without its quotes
  char unknown[kFieldSize];  // anything left over that is no known option
  bool has_setup, has_codes, has_bulk;
  bool too_long;
};

// Splits a command line; false when it does not start with a program token
// followed by "/Setup=" or a value did not fit (the fields then hold what
// was read up to there).
bool ParseUpdaterArguments(const char* command_line, UpdaterArguments* out);
