#include "tools/demo_updater/updater_args.h"

#include <string.h>

namespace {

// Copies [begin, end) into field; refuses (empty field, false) when it does
// not fit.
bool Take(char* field, size_t cap, const char* begin, const char* end) {
  size_t n = static_cast<size_t>(end - begin);
  if (n >= cap) {
    field[0] = '\0';
    return false;
  }
  memcpy(field, begin, n);
  field[n] = '\0';
  return true;
}

// The nearest of the later option markers, or the end of the text.
const char* NextOption(const char* from, bool codes_allowed) {
  const char* end = from + strlen(from);
  if (codes_allowed) {
    const char* c = strstr(from, " /Codes=");
    if (c && c < end) end = c;
  }
  const char* b = strstr(from, " /Bulk=");
  if (b && b < end) end = b;
  return end;
}

}  // namespace

bool ParseUpdaterArguments(const char* line, UpdaterArguments* out) {
  memset(out, 0, sizeof *out);
  const size_t cap = UpdaterArguments::kFieldSize;
  const char* p = line;
  while (*p == ' ' || *p == '\t') ++p;
  const char* program_end;
  if (*p == '"') {
    ++p;
    program_end = strchr(p, '"');
    if (!program_end) return false;
    if (!Take(out->program, cap, p, program_end)) return out->too_long = true, false;
    p = program_end + 1;
  } else {
    program_end = p;
    while (*program_end && *program_end != ' ') ++program_end;
    if (!Take(out->program, cap, p, program_end)) return out->too_long = true, false;
    p = program_end;
  }
  while (*p == ' ') ++p;
  if (strncmp(p, "/Setup=", 7) != 0) return false;
  p += 7;
  const char* end = NextOption(p, true);
  if (!Take(out->setup, cap, p, end)) return out->too_long = true, false;
  out->has_setup = true;
  p = end;
  if (strncmp(p, " /Codes=", 8) == 0) {
    p += 8;
    end = NextOption(p, false);
    if (!Take(out->codes, cap, p, end)) return out->too_long = true, false;
    out->has_codes = true;
    p = end;
  }
  if (strncmp(p, " /Bulk=", 7) == 0) {
    p += 7;
    if (*p == '"') {
      const char* close = strchr(p + 1, '"');
      end = close ? close : p + strlen(p);
      if (!Take(out->bulk, cap, p + 1, end)) return out->too_long = true, false;
      p = close ? close + 1 : end;
    } else {
      end = p + strlen(p);
      if (!Take(out->bulk, cap, p, end)) return out->too_long = true, false;
      p = end;
    }
    out->has_bulk = true;
  }
  if (*p) {
    if (!Take(out->unknown, cap, p, p + strlen(p))) return out->too_long = true, false;
  }
  return true;
}
