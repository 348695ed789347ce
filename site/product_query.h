#pragma once
#include "base/byte_string.h"

class SiteConnection;

// One question to the site's gateway about a product name and its parsed
// answer: where the download area is. Asked at construction; valid when the
// answer named a download area.
class ProductQuery {
 public:
  ProductQuery(const char* name, SiteConnection* site);
  ProductQuery(const ProductQuery&) = delete;
  ProductQuery& operator=(const ProductQuery&) = delete;

  bool IsValid() const { return !url_.IsEmpty(); }
  const char* Name() const { return name_.Text(); }
  const char* Url() const { return url_.Text(); }
  // "http" or "https".
  const char* Scheme() const { return scheme_.Text(); }
  const char* Host() const { return host_.Text(); }
  // 0 when the URL named no port.
  unsigned short Port() const { return port_; }
  // Without its leading "/".
  const char* Path() const { return path_.Text(); }
  // The answer's second and third fields, kept as they came.
  const char* SecondField() const { return second_.Text(); }
  const char* ThirdField() const { return third_.Text(); }
  const char* AuthKey() const { return auth_key_.Text(); }
  const char* ProductParameters() const { return product_params_.Text(); }
  SiteConnection* Site() const { return site_; }

  // The site's list of kept queries.
  ProductQuery* Next() const { return next_; }
  void SetNext(ProductQuery* next) { next_ = next; }

 private:
  void Ask();

  ByteString name_;
  ByteString url_;
  ByteString scheme_;
  ByteString host_;
  unsigned short port_;
  ByteString path_;
  ByteString second_;
  ByteString third_;
  SiteConnection* site_;
  ByteString auth_key_;
  ByteString product_params_;
  ProductQuery* next_;
};
