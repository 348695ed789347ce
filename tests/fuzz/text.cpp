// Bounded text building and byte strings: every result within its buffer,
// a text that does not fit refused whole, the rest equal to the C library's
// formatting.
#include <stdarg.h>

#include "base/byte_string.h"
#include "base/text.h"
#include "fuzz_input.h"

namespace {

std::string Printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  char text[4096];
  int n = vsnprintf(text, sizeof text, format, args);
  va_end(args);
  FUZZ_CHECK(n >= 0 && static_cast<size_t>(n) < sizeof text);
  return std::string(text, static_cast<size_t>(n));
}

// Formats the selected pattern into out; expected gets what it must read.
int FormatOne(unsigned pattern, char* out, size_t cap, const char* a, const char* b, uint64_t number,
              std::string* expected) {
  int i = static_cast<int>(number);
  unsigned u = static_cast<unsigned>(number >> 32);
  long l = static_cast<long>(number);
  unsigned long ul = static_cast<unsigned long>(number);
  switch (pattern % 8) {
    case 0:
      *expected = Printf("%s,%s %d, 0x%x\r\n", a, b, i, u);
      return FormatText(out, cap, "%s,%s %d, 0x%x\r\n", a, b, i, u);
    case 1:
      *expected = Printf("%s:%s@", a, b);
      return FormatText(out, cap, "%s:%s@", a, b);
    case 2:
      *expected = Printf("%u%%%c%ld", u, static_cast<char>(i), l);
      return FormatText(out, cap, "%u%%%c%ld", u, static_cast<char>(i), l);
    case 3:
      *expected = Printf("%lx-%lu-%d", ul, ul, i);
      return FormatText(out, cap, "%lx-%lu-%d", ul, ul, i);
    case 4:
      *expected = a;  // a null %s prints nothing
      return FormatText(out, cap, "%s%s", a, static_cast<const char*>(nullptr));
    case 5:
      *expected = std::string(a) + "%q" + b;  // an unknown conversion stays as it is
      return FormatText(out, cap, "%s%q%s", a, b);
    case 6:
      *expected = std::string(b);  // a lone % at the end prints nothing
      return FormatText(out, cap, "%s%", b);
    default:
      *expected = Printf("%d%d", INT32_MIN + (i & 1), -(i & 0xff));
      return FormatText(out, cap, "%d%d", INT32_MIN + (i & 1), -(i & 0xff));
  }
}

void CheckCopyAndAppend(size_t cap, const char* a, const char* b) {
  FuzzBuffer out(cap);
  bool copied = CopyText(out.get(), cap, a);
  FUZZ_CHECK(copied == (cap > 0 && strlen(a) < cap));
  if (copied) FUZZ_CHECK(out.Text() == a);
  if (!copied && cap) FUZZ_CHECK(out.get()[0] == 0);
  if (!cap) return;

  std::string before = out.Bytes();
  std::string base = out.Text();
  bool appended = AppendText(out.get(), cap, b);
  FUZZ_CHECK(appended == (base.size() + strlen(b) < cap));
  if (appended) FUZZ_CHECK(out.Text() == base + b);
  if (!appended) FUZZ_CHECK(out.Bytes() == before);

  // A buffer without a terminator is refused, untouched.
  FuzzBuffer full(cap);
  memset(full.get(), 'x', cap);
  std::string untouched = full.Bytes();
  FUZZ_CHECK(!AppendText(full.get(), cap, b));
  FUZZ_CHECK(!AppendFormat(full.get(), cap, "%s", b));
  FUZZ_CHECK(full.Bytes() == untouched);
}

void CheckFormat(unsigned pattern, size_t cap, const char* a, const char* b, uint64_t number) {
  FuzzBuffer out(cap);
  std::string expected;
  int n = FormatOne(pattern, out.get(), cap, a, b, number, &expected);
  if (cap == 0) {
    FUZZ_CHECK(n == -1);
    return;
  }
  FUZZ_CHECK(out.Terminated());
  if (expected.size() < cap) {
    FUZZ_CHECK(n == static_cast<int>(expected.size()));
    // Compared as bytes: a %c of zero is written as it stands.
    FUZZ_CHECK(std::string(out.get(), expected.size()) == expected);
  } else {
    FUZZ_CHECK(n == -1);
    FUZZ_CHECK(out.get()[0] == 0);
  }

  // Appending keeps the text already there, or leaves it as it was (bytes
  // past its end may have been used as scratch).
  FuzzBuffer more(cap);
  CopyText(more.get(), cap, b);
  std::string base = more.Text();
  bool appended = AppendFormat(more.get(), cap, "%s|%d", a, static_cast<int>(number));
  std::string tail = Printf("%s|%d", a, static_cast<int>(number));
  FUZZ_CHECK(appended == (base.size() + tail.size() < cap));
  if (appended) FUZZ_CHECK(more.Text() == base + tail);
  if (!appended) FUZZ_CHECK(more.Text() == base);
}

void CheckByteString(const char* a, const char* b, const unsigned char* raw, size_t raw_size) {
  ByteString s;
  FUZZ_CHECK(!s.IsPresent() && s.Length() == 0 && s.Text()[0] == 0);
  s.Assign(a);
  FUZZ_CHECK(s.IsPresent() && s.Length() == strlen(a) && strcmp(s.Text(), a) == 0);
  ByteString joined;
  joined.AssignJoined(a, b);
  FUZZ_CHECK(joined.Text() == std::string(a) + b && joined.Length() == strlen(a) + strlen(b));
  // Bytes with zeros inside keep their length.
  ByteString bytes;
  bytes.Assign(reinterpret_cast<const char*>(raw), raw_size);
  FUZZ_CHECK(bytes.Length() == raw_size && memcmp(bytes.Text(), raw, raw_size) == 0 && bytes.Text()[raw_size] == 0);
  ByteString copy(bytes);
  FUZZ_CHECK(copy.Length() == raw_size && memcmp(copy.Text(), raw, raw_size) == 0);
  const ByteString& same = copy;
  copy = same;
  FUZZ_CHECK(copy.Length() == raw_size);
  copy = ByteString();
  FUZZ_CHECK(!copy.IsPresent());
  // Null reads as the empty text, which is present.
  s.Assign(nullptr);
  FUZZ_CHECK(s.IsPresent() && s.IsEmpty());
  s.AssignJoined(nullptr, b);
  FUZZ_CHECK(s.Text() == std::string(b));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  unsigned pattern = in.Byte();
  size_t cap = in.Byte();
  uint64_t number = in.Uint64();
  const char* a = in.Text();
  const char* b = in.Text();
  size_t raw_size;
  const unsigned char* raw = in.Bytes(in.Left(), &raw_size);
  CheckCopyAndAppend(cap, a, b);
  CheckFormat(pattern, cap, a, b, number);
  CheckByteString(a, b, raw, raw_size);
  return 0;
}
