#pragma once
#include <windows.h>

#include "site/host_client.h"

class ProductQuery;

// The connection to the maker's site, where the gateway script runs. Holds
// the text appended to every gateway query and the queries that succeeded.
class SiteConnection : public HostClient {
 public:
  enum { kQuerySuffixCap = 1000 };

  // The maker's site host, base path "/secure/".
  explicit SiteConnection(HWND owner);
  // Another site host (a mirror of the site, or a test server).
  SiteConnection(HWND owner, const char* host);
  ~SiteConnection() override;

  // The valid query for name, asked once and then kept; null when the
  // gateway could not be asked or named no download area (asked again next time).
  ProductQuery* FindOrCreateQuery(const char* name);

  const char* QuerySuffix() const { return query_suffix_; }
  // False when the stored parameters made the suffix longer than 999
  // characters: the gateway is then not asked at all rather than asked with
  // a cut suffix.
  bool QuerySuffixFits() const { return suffix_fits_; }

 private:
  void BuildQuerySuffix();

  ProductQuery* first_query_;
  ProductQuery* last_query_;
  char query_suffix_[kQuerySuffixCap];
  bool suffix_fits_;
};
