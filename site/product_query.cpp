#include "site/product_query.h"

#include <windows.h>

#include "base/diagnostic_log.h"
#include "base/file_utils.h"
#include "install/product.h"
#include "base/registry.h"
#include "base/text.h"
#include "site/file_text.h"
#include "site/gateway_text.h"
#include "site/site_connection.h"

// Longer requests are refused by the connection anyway (its encoded path is
// bounded far below this); a request that does not fit here is not sent.
static const size_t kRequestCap = 2048;

ProductQuery::ProductQuery(const char* name, SiteConnection* site)
    : name_(name), port_(0), site_(site), next_(nullptr) {
  // A name too long for a registry key path has no stored values, and an
  // empty one must not read the family's own key in its place.
  char key[MAX_PATH];
  if (name_.IsEmpty() || FormatText(key, sizeof key, "%s\\%s", SETUP_FAMILY_KEY, name_.Text()) < 0) {
    key[0] = 0;
  }
  if (key[0]) {
    auth_key_ = RegGetString(HKEY_LOCAL_MACHINE, key, "AuthKey", nullptr);
    product_params_ = RegGetString(HKEY_LOCAL_MACHINE, key, "WWWParams", "");
  }
  Ask();
}

void ProductQuery::Ask() {
  if (!site_) return;
  if (!site_->QuerySuffixFits()) {
    LogPrint("Gateway query for %s not sent: suffix too long\n", name_.Text());
    return;
  }
  char request[kRequestCap];
  if (!ComposeGatewayRequest(request, sizeof request, name_.Text(), auth_key_.Text(), site_->QuerySuffix(),
                             product_params_.Text())) {
    LogPrint("Gateway query for %s not sent: over %d characters\n", name_.Text(), static_cast<int>(kRequestCap - 1));
    return;
  }
  TemporaryFile answer_file;
  if (!answer_file.Name()[0]) return;
  if (!site_->Download(request, answer_file.Name())) return;

  GatewayAnswer answer(FileText(answer_file.Name()).Text());
  AreaUrl area;
  // Without an http or https URL there is no host to fetch from: the query
  // stays invalid.
  if (!SplitUrl(answer.url.Text(), &area)) {
    LogPrint("Gateway answer names no download area\n");
    return;
  }
  url_ = answer.url;
  scheme_ = area.scheme;
  host_ = area.host;
  port_ = area.port;
  path_ = area.path;
  second_ = answer.second;
  third_ = answer.third;
}
