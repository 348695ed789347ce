#pragma once
// Shared by the file fetcher tests: a loopback site with its gateway and a
// download area, cabinets made by gcab at build time, and executables that
// carry a package.
#include <winsock2.h>
#include <windows.h>

#include <map>
#include <memory>
#include <string>

#include "tests/support/http_test_server.h"

namespace fetcher_testing {

extern const char kTestPattern[];

// The cabinet of that name (one_stored.cab, three_mszip.cab, evil.cab,
// cut.cab, long_name.cab, updater.cab), as bytes.
std::string Cabinet(const std::string& name);

// Writes a compound file whose folder holds one stream per entry, appends it
// to a copy of the test updater in the package block layout and returns
// whether that worked.
bool WritePackageExecutable(const std::string& path, const std::string& folder,
                            const std::map<std::string, std::string>& streams);

// A site (gateway under /secure/) and a download area (under /pub/) on two
// loopback servers of their own. The gateway names the area.
class LoopbackSite {
 public:
  // Servers at TestAddress(a, 2 * index) and TestAddress(a, 2 * index + 1).
  LoopbackSite(int a, int index);
  bool Ok() const { return site.Ok() && area_ && area_->Ok(); }
  // The area answers its connection test (else every request gets a 404).
  void AreaUp();
  void ServeArea(const std::string& name, const std::string& body) { area_->ServeFile("/pub/" + name, body); }
  // Requests the area received for name (query text removed).
  int AreaRequestsFor(const std::string& name);

  testing_support::HttpTestServer& Area() { return *area_; }
  // Takes the area's server away: later connections are refused.
  void StopArea() { area_.reset(); }

  testing_support::HttpTestServer site;

 private:
  std::unique_ptr<testing_support::HttpTestServer> area_;
};

}  // namespace fetcher_testing
