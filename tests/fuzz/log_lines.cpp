// The log's line rules over any text, and over a failed step's line with
// outside names in it: carriage returns dropped, every line feed written as
// CR LF at the end of its write, nothing lost, no write past the line buffer.
#include "base/log_lines.h"
#include "base/text.h"
#include "fuzz_input.h"

namespace {

struct Writes {
  std::vector<std::string> pieces;
};

void Collect(void* context, const char* data, size_t length) {
  FUZZ_CHECK(length > 0 && length <= kLogLineBufferSize);
  static_cast<Writes*>(context)->pieces.push_back(std::string(data, length));
}

void CheckLines(const char* text) {
  Writes writes;
  LogWriteLines(text, Collect, &writes);
  std::string expected;
  for (const char* p = text; *p; ++p) {
    if (*p == '\n') expected += "\r\n";
    else if (*p != '\r') expected += *p;
  }
  std::string all;
  for (const std::string& piece : writes.pieces) {
    // CR and LF only as the pair that ends a write.
    size_t body = piece.size() >= 2 && piece.compare(piece.size() - 2, 2, "\r\n") == 0 ? piece.size() - 2 : piece.size();
    FUZZ_CHECK(piece.find_first_of("\r\n") >= body);
    all += piece;
  }
  FUZZ_CHECK(all == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  int line = static_cast<int>(in.Uint32());
  unsigned code = in.Uint32();
  const char* step = in.Text();
  const char* unit = in.Text();
  CheckLines(step);
  char text[1024];
  if (FormatText(text, sizeof text, "%s,%s %d, 0x%x\r\n", step, unit, line, code) >= 0) CheckLines(text);
  return 0;
}
