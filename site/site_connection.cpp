#include "site/site_connection.h"

#include <new>
#include <string.h>

#include "base/diagnostic_log.h"
#include "install/product.h"
#include "base/registry.h"
#include "site/fingerprint.h"
#include "site/gateway_text.h"
#include "site/product_query.h"
#include "transport/host_connection.h"

// The maker's site is entry 1 of the host table.
SiteConnection::SiteConnection(HWND owner) : SiteConnection(owner, KnownHostName(0)) {}

SiteConnection::SiteConnection(HWND owner, const char* host)
    : HostClient(host, owner, "secure", SiteScheme()), first_query_(nullptr), last_query_(nullptr), suffix_fits_(false) {
  BuildQuerySuffix();
}

SiteConnection::~SiteConnection() {
  while (first_query_) {
    ProductQuery* next = first_query_->Next();
    delete first_query_;
    first_query_ = next;
  }
}

void SiteConnection::BuildQuerySuffix() {
  ByteString beta = RegGetString(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, "Beta", nullptr);
  ByteString params = RegGetString(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, "WWWParams", "");
  suffix_fits_ = ComposeQuerySuffix(query_suffix_, sizeof query_suffix_, MachineFingerprint(), beta.Text(),
                                    params.Text());
  if (!suffix_fits_) LogPrint("Query suffix over %d characters\n", kQuerySuffixCap - 1);
}

ProductQuery* SiteConnection::FindOrCreateQuery(const char* name) {
  if (!name) name = "";
  for (ProductQuery* query = first_query_; query; query = query->Next()) {
    if (strcmp(query->Name(), name) == 0) return query;
  }
  ProductQuery* query = new (std::nothrow) ProductQuery(name, this);
  if (!query) return nullptr;
  if (!query->IsValid()) {
    delete query;
    return nullptr;
  }
  if (last_query_) {
    last_query_->SetNext(query);
  } else {
    first_query_ = query;
  }
  last_query_ = query;
  return query;
}
