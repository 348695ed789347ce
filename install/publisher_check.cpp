#include "install/publisher_check.h"

#include <softpub.h>
#include <string.h>
#include <wincrypt.h>
#include <wintrust.h>

#include "base/diagnostic_log.h"
#include "base/file_utils.h"
#include "install/install_sequence.h"

static const char* g_publisher = SETUP_UPDATER_PUBLISHER;
static const char* g_thumbprints = SETUP_UPDATER_THUMBPRINTS;

const char* UpdaterPublisher() { return g_publisher; }
const char* UpdaterThumbprints() { return g_thumbprints; }

void SetUpdaterTrustForTesting(const char* publisher, const char* thumbprints) {
  g_publisher = publisher;
  g_thumbprints = thumbprints;
}

typedef LONG(WINAPI* VerifyTrustFunction)(HWND, GUID*, void*);
typedef CRYPT_PROVIDER_DATA*(WINAPI* ProviderDataFunction)(HANDLE);
typedef CRYPT_PROVIDER_SGNR*(WINAPI* ProviderSignerFunction)(CRYPT_PROVIDER_DATA*, DWORD, BOOL, DWORD);
typedef DWORD(WINAPI* NameStringFunction)(PCCERT_CONTEXT, DWORD, DWORD, void*, LPSTR, DWORD);
typedef BOOL(WINAPI* KeyUsageFunction)(PCCERT_CONTEXT, DWORD, PCERT_ENHKEY_USAGE, DWORD*);
typedef BOOL(WINAPI* HashCertificateFunction)(LPCWSTR, DWORD, void*, const BYTE*, DWORD, BYTE*, DWORD*);

// Entry points of the system's trust and crypto libraries, in this order.
enum { kVerifyTrust, kProviderData, kProviderSigner, kNameString, kKeyUsage, kHashCertificate, kEntryCount };
static const char* const kEntryNames[kEntryCount] = {
    "WinVerifyTrust",     "WTHelperProvDataFromStateData", "WTHelperGetProvSignerFromChain",
    "CertGetNameStringA", "CertGetEnhancedKeyUsage",       "CryptHashCertificate2"};

// The libraries stay loaded: a second check in the same run reuses the root
// certificates the first one read.
static bool LoadEntries(void** entries) {
  HMODULE wintrust = LoadSystemLibrary("wintrust.dll");
  HMODULE crypt32 = LoadSystemLibrary("crypt32.dll");
  for (int i = 0; i < kEntryCount; ++i) {
    HMODULE module = i < kNameString ? wintrust : crypt32;
    entries[i] = module ? reinterpret_cast<void*>(GetProcAddress(module, kEntryNames[i])) : nullptr;
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

static void Thumbprint(HashCertificateFunction hash, PCCERT_CONTEXT certificate, char* out) {
  BYTE digest[32];
  DWORD size = sizeof digest;
  if (!hash(L"SHA256", 0, nullptr, certificate->pbCertEncoded, certificate->cbCertEncoded, digest, &size) ||
      size != sizeof digest)
    return;
  for (DWORD i = 0; i < 2 * sizeof digest; ++i) {
    int nibble = (i & 1) ? digest[i / 2] & 15 : digest[i / 2] >> 4;
    out[i] = static_cast<char>(nibble < 10 ? '0' + nibble : 'A' - 10 + nibble);
  }
  out[2 * sizeof digest] = 0;
}

bool InspectSignature(HANDLE file, const char* path, SignerReport* report) {
  ZeroMemory(report, sizeof *report);
  void* entries[kEntryCount];
  if (!LoadEntries(entries)) return false;
  VerifyTrustFunction verify = reinterpret_cast<VerifyTrustFunction>(entries[kVerifyTrust]);

  WCHAR wide[MAX_PATH + 16];
  // A path that does not convert is never checked under another name; no
  // signer found refuses it.
  if (!MultiByteToWideChar(CP_ACP, 0, path, -1, wide, sizeof wide / sizeof wide[0])) return true;
  WINTRUST_FILE_INFO info;
  ZeroMemory(&info, sizeof info);
  info.cbStruct = sizeof info;
  info.pcwszFilePath = wide;
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
    reinterpret_cast<NameStringFunction>(entries[kNameString])(
        certificate, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), report->subject,
        sizeof report->subject);
    Thumbprint(reinterpret_cast<HashCertificateFunction>(entries[kHashCertificate]), certificate,
               report->thumbprint);
  }
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return true;
}

TrustFailure CheckPublisher(HANDLE file, const char* path, const char* publisher, const char* thumbprints,
                            SignerReport* report) {
  if (!InspectSignature(file, path, report)) return kNoTrustLibrary;
  return JudgeSigner(*report, publisher, thumbprints);
}

StartOutcome StartCheckedProcess(const char* program, const char* arguments, const char* folder) {
  // Readers only, so the file cannot change between the check and the start.
  HANDLE file = CreateFileA(program, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    LogPrint("Open %s failed 0x%x\r\n", program, GetLastError());
    return kNotStarted;
  }
  if (g_publisher[0] || g_thumbprints[0]) {
    SignerReport report;
    TrustFailure failure = CheckPublisher(file, program, g_publisher, g_thumbprints, &report);
    if (failure != kTrusted) {
      LogPrint("%s refused (rule %d): result 0x%x, chain status 0x%x, subject \"%s\", thumbprint %s\r\n", program,
               static_cast<int>(failure), static_cast<unsigned>(report.verdict), report.chain_status,
               report.subject, report.thumbprint);
      CloseHandle(file);
      // Never left for a later run to start.
      if (!DeleteFileA(program)) LogPrint("DeleteFile %s failed 0x%x\r\n", program, GetLastError());
      return kNotTrusted;
    }
  }
  bool started = StartProcess(program, arguments, folder);
  CloseHandle(file);
  return started ? kStarted : kNotStarted;
}
