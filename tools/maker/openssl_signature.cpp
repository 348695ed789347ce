#include "tools/maker/openssl_signature.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <string.h>
#include <time.h>

#include <memory>

#include "base/little_endian.h"
#include "package/appended_blocks.h"

namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using Pkcs7 = std::unique_ptr<PKCS7, Deleter<PKCS7, PKCS7_free>>;
using Store = std::unique_ptr<X509_STORE, Deleter<X509_STORE, X509_STORE_free>>;
using StoreContext = std::unique_ptr<X509_STORE_CTX, Deleter<X509_STORE_CTX, X509_STORE_CTX_free>>;
using Signature = std::unique_ptr<X509_SIG, Deleter<X509_SIG, X509_SIG_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using TsVerify = std::unique_ptr<TS_VERIFY_CTX, Deleter<TS_VERIFY_CTX, TS_VERIFY_CTX_free>>;
using TstInfo = std::unique_ptr<TS_TST_INFO, Deleter<TS_TST_INFO, TS_TST_INFO_free>>;
// The list only: its certificates belong to the signature.
void FreeList(STACK_OF(X509) * list) { sk_X509_free(list); }
using Signers = std::unique_ptr<STACK_OF(X509), Deleter<STACK_OF(X509), FreeList>>;

const char kIndirectData[] = "1.3.6.1.4.1.311.2.1.4";  // the signed content of a code signature
const char kPeImageData[] = "1.3.6.1.4.1.311.2.1.15";  // its subject: a PE image
const char kTimestampToken[] = "1.3.6.1.4.1.311.3.3.1";  // an RFC 3161 token countersigning a signer

bool IsObject(const ASN1_OBJECT* object, const char* dotted) {
  char text[64];
  int n = OBJ_obj2txt(text, sizeof text, object, 1);
  return n > 0 && static_cast<size_t>(n) < sizeof text && strcmp(text, dotted) == 0;
}

// The signed content: a SEQUENCE of the subject's type and the image digest.
// *body and *bodyLength: the bytes after its tag and length, which the
// signer's message digest covers.
bool ReadIndirectData(PKCS7* p7, const unsigned char** body, long* bodyLength, Signature* digest) {
  PKCS7* contents = p7->d.sign->contents;
  if (!contents || !IsObject(contents->type, kIndirectData) || !contents->d.other ||
      contents->d.other->type != V_ASN1_SEQUENCE)
    return false;
  const ASN1_STRING* sequence = contents->d.other->value.sequence;
  const unsigned char* p = ASN1_STRING_get0_data(sequence);
  long length = 0;
  int tag = 0, cls = 0;
  if (ASN1_get_object(&p, &length, &tag, &cls, ASN1_STRING_length(sequence)) & 0x80 || tag != V_ASN1_SEQUENCE)
    return false;
  *body = p;
  *bodyLength = length;
  const unsigned char* end = p + length;
  // The subject: its type must be a PE image; its value is not needed.
  const unsigned char* item = p;
  long itemLength = 0;
  if (ASN1_get_object(&item, &itemLength, &tag, &cls, end - p) & 0x80 || tag != V_ASN1_SEQUENCE) return false;
  const unsigned char* type = item;
  ASN1_OBJECT* object = d2i_ASN1_OBJECT(nullptr, &type, itemLength);
  bool pe = object && IsObject(object, kPeImageData);
  ASN1_OBJECT_free(object);
  if (!pe) return false;
  p = item + itemLength;
  digest->reset(d2i_X509_SIG(nullptr, &p, end - p));
  return *digest != nullptr;
}

// The image digest: everything before the certificate table but the
// checksum field and the table's directory entry.
bool ImageDigest(const std::string& bytes, const PeHeaderFields& fields, uint32_t tableStart, const EVP_MD* md,
                 unsigned char* out, unsigned int* outLength) {
  DigestContext context(EVP_MD_CTX_new());
  const char* data = bytes.data();
  return context && EVP_DigestInit_ex(context.get(), md, nullptr) &&
         EVP_DigestUpdate(context.get(), data, fields.checksumAt) &&
         EVP_DigestUpdate(context.get(), data + fields.checksumAt + 4, fields.securityEntryAt - fields.checksumAt - 4) &&
         EVP_DigestUpdate(context.get(), data + fields.securityEntryAt + 8, tableStart - fields.securityEntryAt - 8) &&
         EVP_DigestFinal_ex(context.get(), out, outLength);
}

// The digests an image digest may use; any other (a null or a weak one)
// is refused rather than trusted.
const EVP_MD* ImageDigestAlgorithm(const ASN1_OBJECT* object) {
  switch (OBJ_obj2nid(object)) {
    case NID_sha1: return EVP_sha1();
    case NID_sha256: return EVP_sha256();
    case NID_sha384: return EVP_sha384();
    case NID_sha512: return EVP_sha512();
    default: return nullptr;
  }
}

uint32_t ChainStatus(int error) {
  switch (error) {
    case X509_V_OK: return 0;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE: return kChainPartial;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_CERT_REJECTED: return kChainUntrustedRoot;
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD: return kChainNotTimeValid;
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY: return kChainBadSignature;
    case X509_V_ERR_CERT_REVOKED: return kChainRevoked;
    case X509_V_ERR_INVALID_CA:
    case X509_V_ERR_PATH_LENGTH_EXCEEDED: return kChainBadBasicConstraints;
    default: return kChainInvalid;
  }
}

// SHA-256 of bytes in upper-case hex, as the platform's thumbprints read.
void HashHex(const unsigned char* bytes, size_t length, char out[65]) {
  unsigned char digest[32];
  unsigned int size = 0;
  if (!EVP_Digest(bytes, length, digest, &size, EVP_sha256(), nullptr) || size != sizeof digest) return;
  for (unsigned int i = 0; i < 2 * size; ++i) {
    int nibble = (i & 1) ? digest[i / 2] & 15 : digest[i / 2] >> 4;
    out[i] = static_cast<char>(nibble < 10 ? '0' + nibble : 'A' - 10 + nibble);
  }
  out[2 * size] = 0;
}

// The subject's common names: how many, and the first in UTF-16 units. A
// value that is no text, holds a zero or is too long to keep never matches.
void ReadCommonNames(X509_NAME* subject, SignerReport* report) {
  int first = -1;
  for (int at = -1; (at = X509_NAME_get_index_by_NID(subject, NID_commonName, at)) >= 0;) {
    if (report->name_count++ == 0) first = at;
  }
  if (first < 0) return;
  report->name_length = SignerReport::kNameUnits + 1;
  unsigned char* text = nullptr;
  int n = ASN1_STRING_to_UTF8(&text, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, first)));
  uint16_t units[SignerReport::kNameUnits + 1];
  int count = n >= 0 && text && strlen(reinterpret_cast<char*>(text)) == static_cast<size_t>(n)
                  ? Utf8ToUtf16(reinterpret_cast<char*>(text), units, sizeof units / sizeof units[0])
                  : -1;
  OPENSSL_free(text);
  if (count < 0) return;
  memcpy(report->name, units, count * sizeof units[0]);
  report->name_length = static_cast<uint32_t>(count);
}

void DescribeSigner(X509* certificate, SignerReport* report) {
  report->signer_found = true;
  // Only the extension counts: a certificate without one is not for code signing.
  report->code_signing = (X509_get_extension_flags(certificate) & EXFLAG_XKUSAGE) != 0 &&
                         (X509_get_extended_key_usage(certificate) & XKU_CODE_SIGN) != 0;
  ReadCommonNames(X509_get_subject_name(certificate), report);
  unsigned char* der = nullptr;
  int length = i2d_X509(certificate, &der);
  if (length > 0) HashHex(der, static_cast<size_t>(length), report->thumbprint);
  OPENSSL_free(der);
}

bool LoadRoots(X509_STORE* store, const std::vector<std::string>& rootFiles, std::string* error) {
  if (rootFiles.empty() && X509_STORE_set_default_paths(store)) return true;
  if (rootFiles.empty()) *error = "cannot read the system's trusted roots";
  for (const std::string& file : rootFiles) {
    if (!X509_STORE_load_file(store, file.c_str())) {
      *error = "cannot read trusted roots from \"" + file + "\" (PEM certificates)";
      return false;
    }
  }
  return !rootFiles.empty();
}

// The chain of the signing certificate, built from the roots and the
// certificates the signature carries; nothing is fetched. Its status, and
// the key hash of each certificate it holds (as far as it was built when
// it fails), leaf first.
void CheckChain(X509_STORE* store, X509* signer, STACK_OF(X509) * carried, const SigningTime& time,
                SignerReport* report) {
  StoreContext context(X509_STORE_CTX_new());
  if (!context || !X509_STORE_CTX_init(context.get(), store, signer, carried)) {
    report->chain_status = kChainInvalid;
    return;
  }
  if (time.valid) X509_STORE_CTX_set_time(context.get(), 0, static_cast<time_t>(time.when));
  report->chain_status =
      X509_verify_cert(context.get()) == 1 ? 0 : ChainStatus(X509_STORE_CTX_get_error(context.get()));
  STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(context.get());
  // The platform builds the chain for code signing: a certificate above the
  // signer whose usage list leaves code signing out limits the whole chain
  // (a list of none allows any). OpenSSL 3.0 has no such purpose to ask for.
  for (int i = 1; report->chain_status == 0 && chain && i < sk_X509_num(chain); ++i) {
    X509* certificate = sk_X509_value(chain, i);
    if ((X509_get_extension_flags(certificate) & EXFLAG_XKUSAGE) &&
        !(X509_get_extended_key_usage(certificate) & XKU_CODE_SIGN))
      report->chain_status = kChainWrongUsage;
  }
  for (int i = 0; chain && i < sk_X509_num(chain) && i < SignerReport::kChainSize; ++i) {
    unsigned char* key = nullptr;
    int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(sk_X509_value(chain, i)), &key);
    if (length > 0) HashHex(key, static_cast<size_t>(length), report->key_hashes[i]);
    OPENSSL_free(key);
    report->chain_length = static_cast<uint32_t>(i + 1);
  }
}

// The last error OpenSSL queued, as text; the queue is emptied.
std::string OpenSslProblem(const char* fallback) {
  unsigned long code = ERR_peek_last_error();
  const char* reason = code ? ERR_reason_error_string(code) : nullptr;
  ERR_clear_error();
  return reason ? reason : fallback;
}

// The signer's timestamp token, if any: it must be a signed token over the
// signer's signature value, from an authority whose chain ends in one of
// the roots with the time-stamping usage. Only the first token counts, as
// a signer carries one.
void ReadTimestamp(X509_STORE* store, PKCS7_SIGNER_INFO* signer, SigningTime* time) {
  STACK_OF(X509_ATTRIBUTE)* attributes = signer->unauth_attr;
  X509_ATTRIBUTE* attribute = nullptr;
  for (int i = 0; attributes && i < X509at_get_attr_count(attributes) && !attribute; ++i) {
    if (IsObject(X509_ATTRIBUTE_get0_object(X509at_get_attr(attributes, i)), kTimestampToken))
      attribute = X509at_get_attr(attributes, i);
  }
  if (!attribute) return;
  time->stamped = true;
  ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, 0);
  const unsigned char* der = value && value->type == V_ASN1_SEQUENCE ? value->value.sequence->data : nullptr;
  Pkcs7 token(der ? d2i_PKCS7(nullptr, &der, value->value.sequence->length) : nullptr);
  TstInfo info(token ? PKCS7_to_TS_TST_INFO(token.get()) : nullptr);
  if (!info) {
    time->problem = "the timestamp token does not read";
    ERR_clear_error();
    return;
  }
  if (PKCS7_type_is_signed(token.get())) {
    Signers tsa(PKCS7_get0_signers(token.get(), nullptr, 0));
    X509* certificate = tsa && sk_X509_num(tsa.get()) > 0 ? sk_X509_value(tsa.get(), 0) : nullptr;
    char name[256];
    if (certificate &&
        X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), NID_commonName, name, sizeof name) > 0)
      time->authority = name;
  }
  ERR_clear_error();
  TsVerify verify(TS_VERIFY_CTX_new());
  BIO* imprinted = BIO_new_mem_buf(signer->enc_digest->data, signer->enc_digest->length);
  if (!verify || !imprinted || !X509_STORE_up_ref(store)) {
    BIO_free(imprinted);
    time->problem = "out of memory";
    return;
  }
  // The context owns the data and takes the reference on the store.
  TS_VERIFY_CTX_set_flags(verify.get(), TS_VFY_VERSION | TS_VFY_SIGNATURE | TS_VFY_DATA);
  TS_VERIFY_CTX_set_data(verify.get(), imprinted);
  TS_VERIFY_CTX_set_store(verify.get(), store);
  if (TS_RESP_verify_token(verify.get(), token.get()) != 1) {
    time->problem = OpenSslProblem("it does not verify");
    return;
  }
  struct tm parts;
  if (!ASN1_TIME_to_tm(TS_TST_INFO_get_time(info.get()), &parts)) {
    time->problem = "its time does not read";
    return;
  }
  time->when = static_cast<int64_t>(timegm(&parts));
  time->valid = true;
}

}  // namespace

bool InspectImageSignature(const std::string& bytes, const std::vector<std::string>& rootFiles, SignerReport* report,
                           std::string* error, SigningTime* time) {
  memset(report, 0, sizeof *report);
  SigningTime unused;
  if (!time) time = &unused;
  *time = SigningTime();
  // The roots are read once per list: the system's bundle is large.
  static Store store;
  static std::vector<std::string> storeFiles;
  if (!store || storeFiles != rootFiles) {
    store.reset(X509_STORE_new());
    storeFiles = rootFiles;
    if (!store || !LoadRoots(store.get(), rootFiles, error)) {
      store.reset();
      return false;
    }
  }

  report->verdict = kVerdictNoSignature;
  const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes.data());
  uint32_t size = static_cast<uint32_t>(bytes.size());
  PeHeaderFields fields;
  if (bytes.size() > 0xffffffffu || !FindPeHeaderFields(data, size, &fields)) {
    report->verdict = kVerdictSubjectForm;
    return true;
  }
  uint32_t start = ReadLe32(data + fields.securityEntryAt), length = ReadLe32(data + fields.securityEntryAt + 4);
  if (start == 0 && length == 0) return true;
  // The table must end the file, after the headers, and hold one signature
  // (revision 2.0, PKCS #7 signed data); anything else is no signature.
  if (start < fields.securityEntryAt + 8 || start > size || size - start != length || length < 8 ||
      ReadLe32(data + start) != length || (ReadLe32(data + start + 4) & 0xffff) != 0x0200 ||
      ReadLe32(data + start + 4) >> 16 != 2)
    return true;
  const unsigned char* der = data + start + 8;
  Pkcs7 p7(d2i_PKCS7(nullptr, &der, length - 8));
  const unsigned char* body = nullptr;
  long bodyLength = 0;
  Signature digestInfo;
  if (!p7 || !PKCS7_type_is_signed(p7.get()) || !ReadIndirectData(p7.get(), &body, &bodyLength, &digestInfo))
    return true;

  STACK_OF(X509)* carried = p7->d.sign->cert;
  Signers signers(PKCS7_get0_signers(p7.get(), nullptr, 0));
  if (!signers || sk_X509_num(signers.get()) < 1) return true;
  X509* signer = sk_X509_value(signers.get(), 0);
  DescribeSigner(signer, report);

  // The image digest the signature names, and the signature over it.
  const X509_ALGOR* algorithm = nullptr;
  const ASN1_OCTET_STRING* named = nullptr;
  X509_SIG_get0(digestInfo.get(), &algorithm, &named);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  report->verdict = kVerdictBadDigest;
  const EVP_MD* md = ImageDigestAlgorithm(algorithm->algorithm);
  if (!md || !ImageDigest(bytes, fields, start, md, digest, &digestLength) ||
      static_cast<int>(digestLength) != EVP_MD_get_size(md) ||
      static_cast<int>(digestLength) != ASN1_STRING_length(named) ||
      memcmp(digest, ASN1_STRING_get0_data(named), digestLength) != 0)
    return true;
  // A buffer over the bytes, not a memory BIO: OpenSSL 3.0 copies a memory
  // BIO and loses the copy when the signature names an unknown digest.
  Bio content(BIO_push(BIO_new(BIO_f_buffer()), BIO_new_mem_buf(body, static_cast<int>(bodyLength))));
  if (!content || !BIO_next(content.get()) ||
      PKCS7_verify(p7.get(), nullptr, nullptr, content.get(), nullptr, PKCS7_NOVERIFY | PKCS7_BINARY) != 1)
    return true;
  report->verdict = 0;
  ReadTimestamp(store.get(), sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(p7.get()), 0), time);
  CheckChain(store.get(), signer, carried, *time, report);
  return true;
}
