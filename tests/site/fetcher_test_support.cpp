#include "tests/site/fetcher_test_support.h"

#include <objbase.h>

#include "tests/package/package_files.h"
#include "tests/support/test_support.h"

using testing_support::HttpTestServer;
using testing_support::TestAddress;

namespace fetcher_testing {

const char kTestPattern[] = "qestorvilanumedra";

std::string Cabinet(const std::string& name) {
  return testing_support::ReadWholeFile(testing_support::ProgramFolder() + "\\cabinets\\" + name);
}

bool WritePackageExecutable(const std::string& path, const std::string& folder,
                            const std::map<std::string, std::string>& streams) {
  CoInitialize(nullptr);
  package_files::Streams entries(streams.begin(), streams.end());
  std::string compound = package_files::MakeCompoundFile(path + ".stg", folder, entries);
  // Unsigned: after a signature's table nothing appended is taken.
  std::string image = testing_support::ReadWholeFile(testing_support::ProgramFolder() +
                                                     "\\..\\support\\test_updater_unsigned.exe");
  if (compound.empty() || image.empty()) return false;
  block_layout::AppendPackage(image, compound);
  return testing_support::WriteWholeFile(path, image);
}

LoopbackSite::LoopbackSite(int a, int index) : site(a, 2 * index), area_(new HttpTestServer(a, 2 * index + 1)) {
  site.ServeFile("/secure/test_pattern.txt", kTestPattern);
  site.ServeFile("/secure/gateway_new.php", "http://" + area_->Address() + "/pub/,,");
}

void LoopbackSite::AreaUp() { area_->ServeFile("/pub/test_pattern.txt", kTestPattern); }

int LoopbackSite::AreaRequestsFor(const std::string& name) {
  int count = 0;
  if (!area_) return 0;
  for (const std::string& target : area_->Targets()) {
    if (target.substr(0, target.find('?')) == "/pub/" + name) ++count;
  }
  return count;
}

}  // namespace fetcher_testing
