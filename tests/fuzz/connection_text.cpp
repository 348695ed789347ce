// The connection record's texts with outside hosts, paths and credentials:
// each is exactly its parts joined, or absent when it would not fit its
// buffer (never cut). The host table answers a name only with the name
// itself or a table entry, and "Rand=" numbers follow one another.
#include "transport/host_connection.h"
#include "fuzz_input.h"

namespace {

// The record's texts built another way; absent as "<absent>".
std::string Or(const char* text) { return text ? text : "<absent>"; }
std::string Within(const std::string& text, size_t cap) { return text.size() < cap ? text : "<absent>"; }

void CheckTexts(HostConnection& c, const std::string& host, const std::string& path) {
  std::string base = c.base_path.Text();
  std::string full = base + path;
  FUZZ_CHECK(Or(c.FullPath(path.c_str())) == Within(full, kUrlBufferSize));

  std::string user = c.site_user.Text(), password = c.site_password.Text();
  std::string credentials = user.empty() ? "" : Within(user + ":" + password + "@", kUrlCredentialsBufferSize);
  FUZZ_CHECK(Or(c.UrlCredentials()) == credentials);

  std::string url = credentials == "<absent>" ? credentials
                                                : Within("http://" + credentials + host + full, kUrlBufferSize);
  FUZZ_CHECK(Or(c.ComposeUrl(path.c_str())) == url);

  std::string request = "GET http://" + host + full + " HTTP/1.0\r\n";
  bool fits = true;
  if (c.site_user.IsPresent()) {
    std::string pair = user + ":" + password;
    fits = fits && pair.size() < kCredentialPairBufferSize;
    request += "Authorization: Basic " + ReferenceBase64(pair) + "\r\n";
  }
  if (c.proxy_user.IsPresent()) {
    std::string pair = std::string(c.proxy_user.Text()) + ":" + c.proxy_password.Text();
    fits = fits && pair.size() < kCredentialPairBufferSize;
    request += "Proxy-Authorization: Basic " + ReferenceBase64(pair) + "\r\n";
  }
  request += "\r\n";
  FUZZ_CHECK(Or(c.BuildRequest(path.c_str())) == (fits ? Within(request, kRequestBufferSize) : "<absent>"));

  std::string codes = user + "," + password + "," + c.proxy_user.Text() + "," + c.proxy_password.Text();
  FUZZ_CHECK(Or(c.GetCodes()) == (codes.size() < 4 ? "<absent>" : Within(codes, kCodesBufferSize)));
}

void CheckHostTable(const char* text) {
  const char* address = HostToAddress(text);
  const char* name = AddressToHost(text);
  bool known_name = false, known_address = false;
  for (int i = 0; i < 4; ++i) {
    known_name = known_name || strcmp(text, KnownHostName(i)) == 0;
    known_address = known_address || strcmp(text, HostToAddress(KnownHostName(i))) == 0;
  }
  FUZZ_CHECK(known_name ? address != text && strcmp(address, text) != 0 : address == text);
  FUZZ_CHECK(known_address ? strcmp(HostToAddress(name), text) == 0 : name == text);
  FUZZ_CHECK(KnownHostName(static_cast<int>(strlen(text)) + 4) == nullptr && KnownHostName(-1) == nullptr);
}

unsigned short g_fields[8];
void FixedClock(unsigned short fields[8]) { memcpy(fields, g_fields, sizeof g_fields); }

unsigned RandNumber(const ByteString& parameter) {
  const char* text = parameter.Text();
  FUZZ_CHECK(strncmp(text, "Rand=", 5) == 0 && text[5] && strlen(text) <= 15);
  unsigned long long value = 0;
  for (const char* p = text + 5; *p; ++p) {
    FUZZ_CHECK(*p >= '0' && *p <= '9');
    value = value * 10 + static_cast<unsigned>(*p - '0');
  }
  FUZZ_CHECK(value <= UINT32_MAX);
  return static_cast<unsigned>(value);
}

void CheckRandom() {
  SetRandomClockForTesting(FixedClock);
  uint32_t folded = 0;
  for (unsigned short field : g_fields) folded = folded * 60u + field;
  // The first number is the clock's fold; every later one is two more.
  unsigned first = RandNumber(RandomParameter());
  FUZZ_CHECK(first == folded);
  for (unsigned i = 1; i <= 3; ++i) FUZZ_CHECK(RandNumber(RandomParameter()) == first + 2 * i);
  SetRandomClockForTesting(nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  unsigned flags = in.Byte();
  for (unsigned short& field : g_fields) {
    unsigned low = in.Byte();
    field = static_cast<unsigned short>(low | in.Byte() << 8);
  }
  std::string host = in.Text();
  const char* base = flags & 1 ? nullptr : in.Text();
  std::string path = in.Text();

  HostConnection c(host.c_str(), nullptr, base);
  std::string b = base ? base : "";
  if (b.empty() || b[0] != '/') b = "/" + b;
  if (b.back() != '/') b += "/";
  FUZZ_CHECK(c.base_path.Text() == b && c.host.Text() == host);

  // Credentials: the site's are present and empty after construction.
  if (flags & 2) c.site_user.Assign(in.Text());
  if (flags & 4) c.site_password.Assign(in.Text());
  if (flags & 8) c.site_user.Release();
  if (flags & 16) c.proxy_user.Assign(in.Text());
  if (flags & 32) c.proxy_password.Assign(in.Text());
  CheckTexts(c, host, path);
  CheckHostTable(host.c_str());
  CheckRandom();
  return 0;
}
