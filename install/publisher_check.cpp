#include "install/publisher_check.h"

#include <softpub.h>
#include <string.h>
#include <wincrypt.h>
#include <wintrust.h>

#include "base/diagnostic_log.h"
#include "base/file_utils.h"

// One tagged block, so that the maker's tool can show what a built image
// accepts.
#define SETUP_POLICY_TAG "SignerPolicy:"
static const char kPolicyText[] =
    SETUP_POLICY_TAG SETUP_UPDATER_PUBLISHER "\0" SETUP_UPDATER_THUMBPRINTS "\0" SETUP_UPDATER_PINS;
static const char* const kPublisher = kPolicyText + sizeof SETUP_POLICY_TAG - 1;
static const char* const kThumbprints = kPublisher + sizeof SETUP_UPDATER_PUBLISHER;
static SignerPolicy g_policy = {kPublisher, kThumbprints, kThumbprints + sizeof SETUP_UPDATER_THUMBPRINTS};

const SignerPolicy& UpdaterPolicy() { return g_policy; }
bool UpdaterCheckIsOff() { return !g_policy.publisher[0] && !g_policy.thumbprints[0] && !g_policy.pins[0]; }
void SetUpdaterPolicyForTesting(const SignerPolicy& policy) { g_policy = policy; }

typedef LONG(WINAPI* VerifyTrustFunction)(HWND, GUID*, void*);
typedef CRYPT_PROVIDER_DATA*(WINAPI* ProviderDataFunction)(HANDLE);
typedef CRYPT_PROVIDER_SGNR*(WINAPI* ProviderSignerFunction)(CRYPT_PROVIDER_DATA*, DWORD, BOOL, DWORD);
typedef BOOL(WINAPI* DecodeFunction)(DWORD, LPCSTR, const BYTE*, DWORD, DWORD, PCRYPT_DECODE_PARA, void*, DWORD*);
typedef BOOL(WINAPI* EncodeFunction)(DWORD, LPCSTR, const void*, BYTE*, DWORD*);
typedef BOOL(WINAPI* KeyUsageFunction)(PCCERT_CONTEXT, DWORD, PCERT_ENHKEY_USAGE, DWORD*);
typedef BOOL(WINAPI* HashCertificateFunction)(LPCWSTR, DWORD, void*, const BYTE*, DWORD, BYTE*, DWORD*);

// Entry points of the system's trust and crypto libraries, in this order.
enum { kVerifyTrust, kProviderData, kProviderSigner, kDecode, kEncode, kKeyUsage, kHashCertificate, kEntryCount };
static const char kEntryNames[] =
    "WinVerifyTrust\0WTHelperProvDataFromStateData\0WTHelperGetProvSignerFromChain\0CryptDecodeObjectEx\0"
    "CryptEncodeObject\0CertGetEnhancedKeyUsage\0CryptHashCertificate2";

// The libraries stay loaded: a second check in the same run reuses the root
// certificates the first one read.
static bool LoadEntries(void** entries) {
  HMODULE wintrust = LoadSystemLibrary("wintrust.dll");
  HMODULE crypt32 = LoadSystemLibrary("crypt32.dll");
  const char* name = kEntryNames;
  for (int i = 0; i < kEntryCount; ++i, name += strlen(name) + 1) {
    HMODULE module = i < kDecode ? wintrust : crypt32;
    entries[i] = module ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr;
    if (!entries[i]) return false;
  }
  return true;
}

static bool HasCodeSigningUsage(KeyUsageFunction usage, PCCERT_CONTEXT certificate) {
  // Only the extension counts: a certificate without one is not for code signing.
  union {
    CERT_ENHKEY_USAGE list;
    BYTE bytes[1024];
  } buffer;
  DWORD size = sizeof buffer;
  if (!usage(certificate, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, &buffer.list, &size)) return false;
  for (DWORD i = 0; i < buffer.list.cUsageIdentifier; ++i) {
    if (strcmp(buffer.list.rgpszUsageIdentifier[i], szOID_PKIX_KP_CODE_SIGNING) == 0) return true;
  }
  return false;
}

// SHA-256 of bytes in upper-case hex; out stays empty when hashing fails.
static void HashHex(HashCertificateFunction hash, const BYTE* bytes, DWORD length, char* out) {
  BYTE digest[32];
  DWORD size = sizeof digest;
  if (!hash(L"SHA256", 0, nullptr, bytes, length, digest, &size) || size != sizeof digest) return;
  for (DWORD i = 0; i < 2 * sizeof digest; ++i) {
    int nibble = (i & 1) ? digest[i / 2] & 15 : digest[i / 2] >> 4;
    out[i] = static_cast<char>(nibble < 10 ? '0' + nibble : 'A' - 10 + nibble);
  }
  out[2 * sizeof digest] = 0;
}

static CERT_NAME_INFO* DecodeName(DecodeFunction decode, const BYTE* bytes, DWORD length) {
  CERT_NAME_INFO* name = nullptr;
  DWORD size = 0;
  if (!decode(X509_ASN_ENCODING, X509_UNICODE_NAME, bytes, length, CRYPT_DECODE_ALLOC_FLAG, nullptr, &name, &size))
    return nullptr;
  return name;
}

// Whether a decoded value's length counts its terminating zero: Windows
// leaves it out, Wine counts it. Told by decoding "CN=A", so a real zero at
// the end of a name is never mistaken for the terminator.
static bool CountsTerminator(DecodeFunction decode) {
  static const BYTE kProbe[] = {0x30, 0x0C, 0x31, 0x0A, 0x30, 0x08, 0x06, 0x03, 0x55, 0x04, 0x03, 0x0C, 0x01, 'A'};
  CERT_NAME_INFO* name = DecodeName(decode, kProbe, sizeof kProbe);
  bool counts = name && name->cRDN == 1 && name->rgRDN[0].cRDNAttr == 1 &&
                name->rgRDN[0].rgRDNAttr[0].Value.cbData == 2 * sizeof(WCHAR);
  LocalFree(name);
  return counts;
}

// The subject's common names as the platform decodes them to wide text;
// nothing is converted to a code page, so no best-fit mapping can make
// another name look like the publisher's.
static void ReadCommonNames(DecodeFunction decode, PCCERT_CONTEXT certificate, SignerReport* report) {
  const CERT_NAME_BLOB& subject = certificate->pCertInfo->Subject;
  CERT_NAME_INFO* name = DecodeName(decode, subject.pbData, subject.cbData);
  if (!name) return;  // unreadable: no common name, matches no publisher
  DWORD terminator = CountsTerminator(decode) ? 1 : 0;
  for (DWORD i = 0; i < name->cRDN; ++i) {
    for (DWORD j = 0; j < name->rgRDN[i].cRDNAttr; ++j) {
      const CERT_RDN_ATTR& attribute = name->rgRDN[i].rgRDNAttr[j];
      if (strcmp(attribute.pszObjId, szOID_COMMON_NAME) != 0 || report->name_count++) continue;
      DWORD units = attribute.Value.cbData / sizeof(WCHAR);
      // A value that is no text, or too long to keep, never matches.
      bool text = attribute.dwValueType > CERT_RDN_OCTET_STRING && units >= terminator &&
                  (units -= terminator) <= SignerReport::kNameUnits;
      report->name_length = text ? units : SignerReport::kNameUnits + 1;
      if (text) memcpy(report->name, attribute.Value.pbData, units * sizeof(WCHAR));
    }
  }
  LocalFree(name);
}

// The SHA-256 of each chain certificate's public key as it is encoded in a
// certificate, so a pin made from the certificate file matches.
static void ReadKeyHashes(void** entries, const CRYPT_PROVIDER_SGNR* signer, SignerReport* report) {
  for (DWORD i = 0; i < signer->csCertChain && i < SignerReport::kChainSize; ++i) {
    PCCERT_CONTEXT certificate = signer->pasCertChain[i].pCert;
    BYTE key[4096];
    DWORD size = sizeof key;
    // An unreadable key keeps its hash empty and so matches no pin.
    if (certificate && reinterpret_cast<EncodeFunction>(entries[kEncode])(
                           X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, &certificate->pCertInfo->SubjectPublicKeyInfo,
                           key, &size))
      HashHex(reinterpret_cast<HashCertificateFunction>(entries[kHashCertificate]), key, size,
              report->key_hashes[i]);
    report->chain_length = i + 1;
  }
}

bool InspectSignature(HANDLE file, const char* path, SignerReport* report) {
  WCHAR wide[MAX_PATH + 16];
  // A path that does not convert is never checked under another name; no
  // signer found refuses it.
  if (!MultiByteToWideChar(CP_ACP, 0, path, -1, wide, sizeof wide / sizeof wide[0])) wide[0] = 0;
  return InspectSignature(file, wide, report);
}

bool InspectSignature(HANDLE file, const wchar_t* path, SignerReport* report) {
  ZeroMemory(report, sizeof *report);
  void* entries[kEntryCount];
  if (!LoadEntries(entries)) return false;
  VerifyTrustFunction verify = reinterpret_cast<VerifyTrustFunction>(entries[kVerifyTrust]);
  if (!path[0]) return true;

  WINTRUST_FILE_INFO info;
  ZeroMemory(&info, sizeof info);
  info.cbStruct = sizeof info;
  info.pcwszFilePath = path;
  info.hFile = file;
  WINTRUST_DATA data;
  ZeroMemory(&data, sizeof data);
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  // Never waits on the network: no revocation lookup, and a chain is built
  // only from what the signature and the machine's stores hold.
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &info;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  report->verdict = verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);

  CRYPT_PROVIDER_DATA* provider =
      data.hWVTStateData ? reinterpret_cast<ProviderDataFunction>(entries[kProviderData])(data.hWVTStateData)
                         : nullptr;
  CRYPT_PROVIDER_SGNR* signer =
      provider ? reinterpret_cast<ProviderSignerFunction>(entries[kProviderSigner])(provider, 0, FALSE, 0) : nullptr;
  if (signer && signer->csCertChain > 0 && signer->pasCertChain[0].pCert) {
    PCCERT_CONTEXT certificate = signer->pasCertChain[0].pCert;
    report->signer_found = true;
    report->chain_status = signer->pChainContext ? signer->pChainContext->TrustStatus.dwErrorStatus : 0xFFFFFFFF;
    report->code_signing = HasCodeSigningUsage(reinterpret_cast<KeyUsageFunction>(entries[kKeyUsage]), certificate);
    ReadCommonNames(reinterpret_cast<DecodeFunction>(entries[kDecode]), certificate, report);
    HashHex(reinterpret_cast<HashCertificateFunction>(entries[kHashCertificate]), certificate->pbCertEncoded,
            certificate->cbCertEncoded, report->thumbprint);
    ReadKeyHashes(entries, signer, report);
  }
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return true;
}

TrustFailure CheckPublisher(HANDLE file, const char* path, const SignerPolicy& policy, SignerReport* report) {
  if (!InspectSignature(file, path, report)) return kNoTrustLibrary;
  return JudgeSigner(*report, policy);
}

TrustFailure CheckPublisher(HANDLE file, const wchar_t* path, const SignerPolicy& policy, SignerReport* report) {
  if (!InspectSignature(file, path, report)) return kNoTrustLibrary;
  return JudgeSigner(*report, policy);
}

void LogRefusal(const char* path, TrustFailure failure, const SignerReport& report) {
  LogPrint("%s refused (rule %d): result 0x%x, chain status 0x%x, %u common names, thumbprint %s\n", path,
           static_cast<int>(failure), static_cast<unsigned>(report.verdict), report.chain_status, report.name_count,
           report.thumbprint);
}
