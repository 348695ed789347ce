// The maker's tool: stamps web parameters onto a copy of Setup.exe, embeds a
// package of files, shows what an executable carries and checks its
// signature. The same commands on every system; what differs is behind
// maker_platform.h.
#include <ctype.h>
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "base/little_endian.h"
#include "install/parameter_merge.h"
#include "install/product.h"
#include "install/signer_rules.h"
#include "package/appended_blocks.h"
#include "tools/maker/cabinet_writer.h"
#include "tools/maker/download_service.h"
#include "tools/maker/maker_platform.h"
#include "tools/maker/signed_image.h"

namespace {

const char kUsage[] =
    "usage:\n"
    "  maker stamp INPUT (-o OUTPUT | --in-place) [--drop-signature] ENTRIES\n"
    "      (INPUT and OUTPUT may be - for standard input and output)\n"
    "      writes the parameter block (e.g. \"a=1&b=2\", at most 258 characters);\n"
    "      an existing block at the end is replaced. A signed INPUT stays signed:\n"
    "      the block goes into the signature as its signer's unsigned attribute\n"
    "  maker embed INPUT (-o OUTPUT | --in-place) [--folder NAME] [--updater PROGRAM]\n"
    "              [--replace] [--drop-signature] [NAME=]FILE ...\n"
    "      appends a package: folder NAME (default " SETUP_FAMILY_NAME ", the one Setup.exe\n"
    "      opens) with one stream per\n"
    "      FILE, named NAME or the file's own name; --updater adds \"Update.exe\",\n"
    "      a cabinet holding PROGRAM as \"NewUpdate.exe\"; --replace swaps an\n"
    "      existing package instead of refusing. Embed first, then sign: a signed\n"
    "      INPUT is refused unless --drop-signature removes its signature\n"
    "  maker show INPUT [--ca FILE]...\n"
    "      lists the signature, the signer Setup.exe was built to accept, the appended\n"
    "      blocks, the parameter text and the package\n"
    "  maker verify FILE [--publisher NAME] [--thumbprint HEX]... [--pin HEX]... [--ca FILE]...\n"
    "      exit 0 only when FILE passes the check Setup.exe makes before it starts\n"
    "      the updater: signed, the chain ends in a trusted root, code signing,\n"
    "      exactly one common name, NAME, and, when given, one of the SHA-256\n"
    "      thumbprints and a chain certificate whose public key (SHA-256 of its\n"
    "      SubjectPublicKeyInfo) is pinned (defaults: what this build was made with).\n"
    "      Natively programs only, against the --ca files (PEM), else the system's bundle;\n"
    "      on Windows the machine's own (--ca is refused there)\n"
    "  maker serve SIGNED [--keys KEY,KEY...] [--max-age SECONDS] [--name FILENAME] [--socket PATH]\n"
    "              [--log FILE]\n"
    "      (native tool) a FastCGI responder: GET or HEAD of the download link gets\n"
    "      a copy of SIGNED stamped in memory with the link's parameters: only the\n"
    "      keys (default Partner,Campaign), each once, values of letters, digits,\n"
    "      - _ and ., at most 258 characters; anything else is a 400. Its listening\n"
    "      socket is standard input (spawn-fcgi), or PATH. SIGHUP reads SIGNED\n"
    "      again between requests; SIGTERM ends it after the request in hand.\n"
    "      Its messages go to FILE, else to standard error\n";

const size_t kMaxParameterText = 258;
const size_t kMaxStreamName = 31;

int Fail(const std::string& message) {
  fprintf(stderr, "maker: %s\n", message.c_str());
  return 1;
}

int Usage(const std::string& message) {
  fprintf(stderr, "maker: %s\n%s", message.c_str(), kUsage);
  return 2;
}

// "-" is standard input (stamp only, in a pipe).
bool ReadAll(const std::string& path, std::string* bytes, std::string* error) {
  if (path == "-") {
    bytes->assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    if (std::cin.bad()) {
      *error = "cannot read standard input";
      return false;
    }
  } else {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) {
      *error = "cannot open \"" + path + "\" (" + strerror(errno) + ")";
      return false;
    }
    std::streamoff size = file.tellg();
    // Block offsets are 32-bit: nothing of 4 GiB or more can carry blocks.
    if (size < 0 || size > 0xffffffffLL) {
      *error = "\"" + path + "\" is 4 GiB or larger, or not a plain file";
      return false;
    }
    bytes->assign(static_cast<size_t>(size), '\0');
    file.seekg(0);
    if (!file.read(&(*bytes)[0], size)) {
      *error = "cannot read \"" + path + "\"";
      return false;
    }
  }
  if (bytes->size() > 0xffffffffu) {
    *error = "standard input is 4 GiB or larger";
    return false;
  }
  return true;
}

// Writes beside the target first, so a failed write never leaves half a file
// in its place (the input included, with --in-place). "-" is standard output.
bool WriteAll(const std::string& path, const std::string& bytes, std::string* error) {
  if (path == "-") {
    if (fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() || fflush(stdout) != 0) {
      *error = "cannot write standard output";
      return false;
    }
    return true;
  }
  std::string temp = path + ".maker-tmp";
  {
    std::ofstream file(temp, std::ios::binary | std::ios::trunc);
    if (!file) {
      *error = "cannot create \"" + temp + "\" (" + strerror(errno) + ")";
      return false;
    }
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
      remove(temp.c_str());
      *error = "cannot write \"" + path + "\"";
      return false;
    }
  }
  return ReplaceFileWith(temp, path, error);
}

const unsigned char* Data(const std::string& bytes) { return reinterpret_cast<const unsigned char*>(bytes.data()); }

uint32_t Read32(const std::string& bytes, size_t at) { return ReadLe32(Data(bytes) + at); }

std::string Offset32(uint32_t value) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((value >> (8 * i)) & 0xff);
  return out;
}

bool IsPeImage(const std::string& bytes) {
  if (bytes.size() < 64 || bytes.compare(0, 2, "MZ") != 0) return false;
  uint32_t header = Read32(bytes, 0x3c);
  return header <= bytes.size() - 4 && bytes.compare(header, 4, std::string("PE\0\0", 4)) == 0;
}

bool ReadImage(const std::string& path, std::string* bytes, std::string* error) {
  if (!ReadAll(path, bytes, error)) return false;
  if (!IsPeImage(*bytes)) {
    *error = "\"" + path + "\" is not a PE file (no executable image)";
    return false;
  }
  return true;
}

bool EndsWithParameterBlock(const std::string& bytes) {
  return BlockEndingAt(Data(bytes), static_cast<uint32_t>(bytes.size())).kind == kParameterBlock;
}

// A non-zero security directory entry: the file carries a signature, sound
// or not.
bool HasSignature(const std::string& bytes) {
  PeHeaderFields fields;
  if (!FindPeHeaderFields(Data(bytes), static_cast<uint32_t>(bytes.size()), &fields)) return false;
  return Read32(bytes, fields.securityEntryAt) != 0 || Read32(bytes, fields.securityEntryAt + 4) != 0;
}

// INPUT (-o OUTPUT | --in-place) and the remaining arguments.
struct Target {
  std::string input;
  std::string output;
  std::vector<std::string> rest;
  bool dropSignature = false;
};

// pipe: "-" may stand for standard input or output.
bool ParseTarget(const std::vector<std::string>& args, bool pipe, Target* target, std::string* error) {
  bool inPlace = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-o") {
      if (i + 1 >= args.size()) {
        *error = "-o needs a file name";
        return false;
      }
      target->output = args[++i];
    } else if (a == "--in-place") {
      inPlace = true;
    } else if (a == "--drop-signature") {
      target->dropSignature = true;
    } else if (a.compare(0, 2, "--") == 0) {
      *error = "unknown option " + a;
      return false;
    } else if (target->input.empty()) {
      target->input = a;
    } else {
      target->rest.push_back(a);
    }
  }
  if (target->input.empty()) {
    *error = "no input file";
    return false;
  }
  bool input = target->input == "-", output = target->output == "-";
  if ((input || output) && !pipe) {
    *error = "\"-\" (standard input or output) is for stamp only";
    return false;
  }
  if (input && (inPlace || target->output.empty())) {
    *error = "standard input cannot be changed in place; give -o OUTPUT (- for standard output)";
    return false;
  }
  if (output && inPlace) {
    *error = "give either -o or --in-place, not both";
    return false;
  }
  if (input || output) return true;
  if (inPlace && !target->output.empty() && !SamePath(target->output, target->input)) {
    *error = "give either -o or --in-place, not both";
    return false;
  }
  if (inPlace) {
    target->output = target->input;
  } else if (target->output.empty()) {
    *error = "no output: give -o OUTPUT, or --in-place to change the input itself";
    return false;
  } else if (SamePath(target->output, target->input)) {
    *error = "the output is the input; give --in-place to change it";
    return false;
  }
  return true;
}

int Stamp(const std::vector<std::string>& args) {
  Target target;
  std::string error;
  if (!ParseTarget(args, true, &target, &error)) return Usage(error);
  if (target.rest.size() != 1) return Usage("stamp takes one parameter text, e.g. \"a=1&b=2\"");
  const std::string& text = target.rest[0];
  if (text.size() > kMaxParameterText)
    return Fail("parameter text is " + std::to_string(text.size()) + " characters; the block holds at most " +
                std::to_string(kMaxParameterText));
  // The entries travel in later gateway requests: a line break or other
  // control byte there would break the request line.
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f) {
      char code[8];
      snprintf(code, sizeof code, "0x%02x", c);
      return Fail(std::string("parameter text holds the control byte ") + code + "; entries are plain text");
    }
  }
  if (target.input == "-" || target.output == "-") UseBinaryStandardStreams();
  std::string bytes;
  if (!ReadImage(target.input, &bytes, &error)) return Fail(error);
  if (target.dropSignature) DropSignature(&bytes);
  bool replaced = false;
  const char* where = "";
  if (HasSignature(bytes)) {
    // In the signature, as an attribute its signer's digest does not cover:
    // the signature stays valid, also under the strict check.
    CertificateTable table;
    if (!ReadCertificateTable(bytes, &table, &error) ||
        !StampInSignature(&bytes, table, MakeParameterBlock(text), &replaced, &error))
      return Fail("\"" + target.input + "\" is signed, but " + error +
                  "; sign it again, or give --drop-signature to stamp it unsigned");
    where = " in the signature, as its signer's unsigned attribute (the signature stays valid)";
  } else {
    replaced = EndsWithParameterBlock(bytes);
    if (replaced) bytes.resize(bytes.size() - kParameterBlockSize);
    bytes += MakeParameterBlock(text);
    UpdatePeChecksum(&bytes);
  }
  if (bytes.size() > 0xffffffffu) return Fail("the result would be 4 GiB or larger");
  if (!WriteAll(target.output, bytes, &error)) return Fail(error);
  // The result may be on standard output: the report goes to errors then.
  fprintf(target.output == "-" ? stderr : stdout, "%s parameter block \"%s\"%s in %s\n",
          replaced ? "replaced" : "added", text.c_str(), where, target.output.c_str());
  return 0;
}

// The format's rules for element names: 1 to 31 characters, none of / \ : !
bool CheckElementName(const std::string& name, const char* what, std::string* error) {
  size_t length = ElementNameLength(name);
  if (length == 0 || length > kMaxStreamName) {
    *error = std::string(what) + " name \"" + name + "\" must have 1 to 31 characters (it has " +
             std::to_string(length) + ")";
    return false;
  }
  if (name.find_first_of("/\\:!") != std::string::npos) {
    *error = std::string(what) + " name \"" + name + "\" may not contain / \\ : or !";
    return false;
  }
  return true;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of("\\/:");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int Embed(const std::vector<std::string>& args) {
  std::vector<std::string> rest;
  std::string folder = SETUP_FAMILY_NAME, updater;
  bool replace = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if ((args[i] == "--folder" || args[i] == "--updater") && i + 1 >= args.size())
      return Usage(args[i] + " needs a value");
    if (args[i] == "--folder") {
      folder = args[++i];
    } else if (args[i] == "--updater") {
      updater = args[++i];
    } else if (args[i] == "--replace") {
      replace = true;
    } else {
      rest.push_back(args[i]);
    }
  }
  Target target;
  std::string error;
  if (!ParseTarget(rest, false, &target, &error)) return Usage(error);
  if (target.rest.empty() && updater.empty()) return Usage("embed needs at least one file or --updater");
  if (!CheckElementName(folder, "folder", &error)) return Fail(error);
  // Storage names compare without case, as the platform's reader does.
  std::string opened = SETUP_FAMILY_NAME, asked = folder;
  for (std::string* name : {&opened, &asked})
    for (char& c : *name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  if (asked != opened)
    fprintf(stderr, "maker: warning: Setup.exe of this build opens only the package folder \"%s\", not \"%s\"\n",
            SETUP_FAMILY_NAME, folder.c_str());

  std::vector<PackageStream> streams;
  if (!updater.empty()) {
    CabinetEntry entry;
    entry.name = "NewUpdate.exe";
    if (!ReadImage(updater, &entry.bytes, &error)) return Fail(error);
    if (!FileDosTime(updater, &entry.dosDate, &entry.dosTime)) entry.dosDate = entry.dosTime = 0;
    PackageStream cabinet;
    cabinet.name = "Update.exe";
    if (!BuildStoredCabinet({entry}, &cabinet.bytes, &error)) return Fail(error);
    streams.push_back(cabinet);
  }
  for (const std::string& argument : target.rest) {
    // NAME=FILE, or FILE named after itself.
    size_t equals = argument.find('=');
    PackageStream source;
    std::string path = equals == std::string::npos ? argument : argument.substr(equals + 1);
    source.name = equals == std::string::npos ? BaseName(argument) : argument.substr(0, equals);
    if (!CheckElementName(source.name, "stream", &error)) return Fail(error);
    if (!ReadAll(path, &source.bytes, &error)) return Fail(error);
    streams.push_back(source);
  }
  // The reader looks names up without regard to case.
  for (size_t i = 0; i < streams.size(); ++i)
    for (size_t j = i + 1; j < streams.size(); ++j)
      if (SameElementName(streams[i].name, streams[j].name))
        return Fail("stream \"" + streams[j].name + "\" is given twice");

  std::string bytes;
  if (!ReadImage(target.input, &bytes, &error)) return Fail(error);
  // A parameter block must stay last, where Setup reads it. One stamped
  // after signing is newer than one before the table and replaces it.
  std::string parameters;
  if (HasSignature(bytes)) {
    if (!target.dropSignature)
      return Fail("\"" + target.input + "\" is signed: a package added now would break its signature. Embed " +
                  "first, then sign; or give --drop-signature to remove the signature");
    uint32_t stamped = 0;
    if (StampedParameterBlock(bytes, &stamped)) parameters = bytes.substr(stamped, kParameterBlockSize);
    DropSignature(&bytes);
  }
  if (EndsWithParameterBlock(bytes)) {
    if (parameters.empty()) parameters = bytes.substr(bytes.size() - kParameterBlockSize);
    bytes.resize(bytes.size() - kParameterBlockSize);
  }
  SetupBlocks blocks = FindSetupBlocks(Data(bytes), static_cast<uint32_t>(bytes.size()));
  if (blocks.hasPackage) {
    if (!replace)
      return Fail("\"" + target.input + "\" already carries a package (at " + std::to_string(blocks.packageStart) +
                  "); give --replace to swap it");
    // Only a package that ends the file can go without moving other blocks.
    if (BlockEndingAt(Data(bytes), static_cast<uint32_t>(bytes.size())).kind != kPackageBlock)
      return Fail("\"" + target.input + "\" has other blocks after its package; it cannot be replaced");
    bytes.resize(blocks.packageStart);
  }

  std::string compound;
  if (!BuildCompoundFile(folder, streams, &compound, &error)) return Fail(error);

  uint32_t packageStart = static_cast<uint32_t>(bytes.size());
  if (static_cast<uint64_t>(bytes.size()) + compound.size() + 14 + parameters.size() > 0xffffffffu)
    return Fail("the result would be 4 GiB or larger");
  bytes += compound;
  bytes += "Bulk";
  bytes += Offset32(packageStart);
  bytes += "Suffix";
  bytes += parameters;
  UpdatePeChecksum(&bytes);
  if (!WriteAll(target.output, bytes, &error)) return Fail(error);
  printf("package of %u bytes at %u in %s: folder %s,", static_cast<unsigned>(compound.size()),
         static_cast<unsigned>(packageStart), target.output.c_str(), folder.c_str());
  for (const PackageStream& source : streams) printf(" %s", source.name.c_str());
  printf("\n");
  return 0;
}

// Whether the file is signed, and where its signature ends. Blocks before
// the table are covered by the signature; those inside it, after the
// signature data, were stamped after signing.
void ShowSignatureLayout(const std::string& bytes) {
  CertificateTable table;
  if (FindCertificateTable(Data(bytes), static_cast<uint32_t>(bytes.size()), &table)) {
    printf("  signature: certificate table at %u, %u bytes; signature data %u bytes\n",
           static_cast<unsigned>(table.start), static_cast<unsigned>(bytes.size() - table.start),
           static_cast<unsigned>(table.signatureEnd - table.start - 8));
  } else if (HasSignature(bytes)) {
    printf("  signature: damaged, of no definite length, or not at the end of the file (blocks were appended after "
           "signing): Setup takes nothing from its table on\n");
  } else {
    printf("  no signature\n");
  }
}


const char* FailureText(TrustFailure failure) {
  switch (failure) {
    case kTrusted: return "trusted";
    case kNoTrustLibrary: return "the system's trust library is missing";
    case kPlatformVerdict: return "the platform refuses the signature (none, or the file changed after signing)";
    case kChainNotTrusted: return "the certificate chain does not end in a trusted root, or is not for code signing";
    case kNoCodeSigning: return "the certificate is not for code signing";
    case kOtherPublisher: return "signed by another publisher";
    case kThumbprintUnlisted: return "the certificate's thumbprint is not listed";
    case kKeyNotPinned: return "no certificate of the chain carries a pinned key";
  }
  return "unknown";
}

// The check Setup.exe makes before it starts an updater, on the file read
// into bytes.
bool CheckFile(const std::string& path, const std::string& bytes, const SignerPolicy& policy, SignerReport* report,
               std::string* signingTime, TrustFailure* failure, std::string* error) {
  if (!InspectSigner(path, bytes, report, signingTime, error)) return false;
  *failure = JudgeSigner(*report, policy);
  return true;
}

// The chain status bit of a certificate outside its validity at the time
// the chain is judged.
const uint32_t kNotTimeValid = 0x1;

void PrintSigner(const SignerReport& report, const std::string& signingTime) {
  std::string name;
  if (report.name_length <= SignerReport::kNameUnits) name = Utf16Text(report.name, report.name_length);
  printf("  signed by \"%s\"%s, SHA-256 thumbprint %s\n", name.c_str(),
         report.name_count == 1 ? "" : " (not exactly one common name)",
         report.thumbprint[0] ? report.thumbprint : "unknown");
  for (uint32_t i = 0; i < report.chain_length && i < SignerReport::kChainSize; ++i)
    printf("  chain %u public key SHA-256 %s\n", static_cast<unsigned>(i),
           report.key_hashes[i][0] ? report.key_hashes[i] : "unknown");
  printf("  platform verdict 0x%08x, chain status 0x%x%s\n", static_cast<unsigned>(report.verdict),
         static_cast<unsigned>(report.chain_status),
         report.chain_status == 0 ? " (ends in a trusted root)"
         : report.chain_status & kNotTimeValid ? " (a certificate is outside its validity)"
                                               : "");
  if (!signingTime.empty()) printf("  %s\n", signingTime.c_str());
}

// The signature as the platform sees it.
void ShowSigner(const std::string& path, const std::string& bytes) {
  SignerReport report;
  TrustFailure failure;
  std::string error;
  SignerPolicy any = {"", "", ""};
  std::string signingTime;
  if (!CheckFile(path, bytes, any, &report, &signingTime, &failure, &error)) {
    printf("  signer: cannot tell (%s)\n", error.c_str());
  } else if (!report.signer_found) {
    printf("  signer: none found, platform verdict 0x%08x\n", static_cast<unsigned>(report.verdict));
  } else {
    PrintSigner(report, signingTime);
    printf("  %s\n", failure == kTrusted ? "the platform accepts it" : FailureText(failure));
  }
}

// The signer a built Setup.exe accepts, as compiled into it (one tagged
// block of three texts), and whether its build pinned a test authority.
void ShowCompiledTrust(const std::string& bytes) {
  static const char kTag[] = "SignerPolicy:";
  size_t at = bytes.find(kTag, 0, sizeof kTag - 1);
  const char* names[] = {"publisher", "thumbprints", "pins"};
  std::string texts[3];
  size_t next = at + sizeof kTag - 1;
  for (int i = 0; at != std::string::npos && i < 3; ++i) {
    size_t end = bytes.find('\0', next);
    if (end == std::string::npos) at = end;
    else texts[i] = bytes.substr(next, end - next), next = end + 1;
  }
  if (at == std::string::npos) {
    printf("  compiled in: no signer policy found (not a Setup.exe)\n");
  } else {
    for (int i = 0; i < 3; ++i)
      printf("  compiled in: %s %s\n", names[i], texts[i].empty() ? "(none)" : ("\"" + texts[i] + "\"").c_str());
  }
  // VS_FIXEDFILEINFO: its signature, then the file flags 28 bytes on.
  static const char kFixed[] = "\xBD\x04\xEF\xFE";
  size_t fixed = bytes.find(kFixed, 0, 4);
  if (fixed != std::string::npos && fixed + 32 <= bytes.size() && (Read32(bytes, fixed + 28) & 0x8))
    printf("  version block: a TEST build (it pins a test authority): not for release\n");
}

// What the Setup.exe built with this tool starts: without pins or
// thumbprints, any code-signing certificate of the name from any root the
// machine trusts.
void ShowBuildTrust() {
  const SignerPolicy& policy = BuiltPolicy();
  if (!policy.publisher[0] && !policy.thumbprints[0] && !policy.pins[0]) {
    printf("  this build starts any updater, signed or not\n");
  } else if (!policy.pins[0] && !policy.thumbprints[0]) {
    printf("  this build trusts any certificate named \"%s\" from a root the machine trusts (no pins)\n",
           policy.publisher);
  } else {
    printf("  this build trusts \"%s\" with pinned keys %s%s%s\n", policy.publisher,
           policy.pins[0] ? policy.pins : "(none)", policy.thumbprints[0] ? ", thumbprints " : "",
           policy.thumbprints);
  }
  if (SETUP_TEST_BUILD) printf("  this tool was built with a test authority: not for release\n");
}

int Verify(const std::vector<std::string>& args) {
  std::string path, publisher = BuiltPolicy().publisher, thumbprints, pins;
  std::vector<std::string> roots;
  bool listed = false, pinned = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if ((args[i] == "--publisher" || args[i] == "--thumbprint" || args[i] == "--pin" || args[i] == "--ca") &&
        i + 1 >= args.size())
      return Usage(args[i] + " needs a value");
    if (args[i] == "--ca") {
      roots.push_back(args[++i]);
    } else if (args[i] == "--publisher") {
      publisher = args[++i];
    } else if (args[i] == "--thumbprint" || args[i] == "--pin") {
      bool pin = args[i] == "--pin";
      const std::string& hex = args[++i];
      if (hex.size() != 64 || hex.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos)
        return Usage("\"" + hex + "\" is not a SHA-256 " + (pin ? "key hash" : "thumbprint") + " (64 hex digits)");
      std::string upper = hex;
      for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
      std::string& list = pin ? pins : thumbprints;
      list += (list.empty() ? "" : ",") + upper;
      (pin ? pinned : listed) = true;
    } else if (path.empty() && args[i].compare(0, 2, "--") != 0) {
      path = args[i];
    } else {
      return Usage("unexpected \"" + args[i] + "\"");
    }
  }
  if (path.empty()) return Usage("verify takes one file");
  if (!listed) thumbprints = BuiltPolicy().thumbprints;
  if (!pinned) pins = BuiltPolicy().pins;
  if (publisher.empty() && thumbprints.empty() && pins.empty())
    return Usage("nothing to check against: no publisher, thumbprint or pin");
  std::string bytes, error;
  if (!TakeRootFiles(roots, &error)) return Usage(error);
  if (!ReadAll(path, &bytes, &error)) return Fail(error);
#ifndef _WIN32
  // The native check reads a program's image digest; the platform's judges
  // cabinets too.
  if (!IsPeImage(bytes)) {
    printf("%s: not a program: verify checks programs only (a signed cabinet: osslsigncode verify)\n", path.c_str());
    return 1;
  }
#endif
  SignerReport report;
  TrustFailure failure;
  SignerPolicy policy = {publisher.c_str(), thumbprints.c_str(), pins.c_str()};
  std::string signingTime;
  if (!CheckFile(path, bytes, policy, &report, &signingTime, &failure, &error)) return Fail(error);
  printf("%s: %s\n", path.c_str(), failure == kTrusted ? "trusted" : "NOT TRUSTED");
  if (report.signer_found) PrintSigner(report, signingTime);
  if (failure == kTrusted) return 0;
  if (failure == kChainNotTrusted && report.chain_status == kNotTimeValid)
    printf("  why: a certificate has expired or is not yet valid, and no valid timestamp lies inside its validity");
  else
    printf("  why: %s", FailureText(failure));
  if (failure == kOtherPublisher) printf(" (expected \"%s\")", publisher.c_str());
  if (failure == kPlatformVerdict && !report.signer_found)
    printf(" (verdict 0x%08x)", static_cast<unsigned>(report.verdict));
  printf("\n");
  return 1;
}

int Show(const std::vector<std::string>& arguments) {
  std::vector<std::string> args, roots;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] != "--ca") {
      args.push_back(arguments[i]);
    } else if (i + 1 < arguments.size()) {
      roots.push_back(arguments[++i]);
    } else {
      return Usage("--ca needs a value");
    }
  }
  if (args.size() != 1) return Usage("show takes one file");
  std::string bytes, error;
  if (!TakeRootFiles(roots, &error)) return Usage(error);
  if (!ReadImage(args[0], &bytes, &error)) return Fail(error);
  printf("%s: %u bytes\n", args[0].c_str(), static_cast<unsigned>(bytes.size()));
  ShowSignatureLayout(bytes);
  ShowSigner(args[0], bytes);
  ShowCompiledTrust(bytes);
  ShowBuildTrust();
  BlockWalk walk(Data(bytes), static_cast<uint32_t>(bytes.size()));
  bool last = true;
  for (;;) {
    AppendedBlock block = walk.Next();
    static const char* const kPlaces[] = {"", " [signed]", " [after the signature data: stamped after signing]",
                                          " [in the signature: its signer's unsigned attribute]"};
    const char* signature = kPlaces[walk.Place()];
    if (block.kind == kParameterBlock) {
      char text[kTrailerTextSize];
      TrailerParameterText(Data(bytes) + block.start, text, sizeof text);
      printf("  parameter block at %u: \"%s\"%s%s\n", static_cast<unsigned>(block.start), text, signature,
             last ? "" : " (not at the end: Setup does not read it)");
    } else if (block.kind == kOtherBlock) {
      printf("  other block at %u%s\n", static_cast<unsigned>(block.start), signature);
    } else if (block.kind == kPackageBlock && walk.Place() == kAfterSignature) {
      printf("  package at %u, compound file of %u bytes%s: not covered by the signature, Setup ignores it\n",
             static_cast<unsigned>(block.start), static_cast<unsigned>(block.dataLength), signature);
    } else if (block.kind == kPackageBlock) {
      printf("  package at %u, compound file of %u bytes%s\n", static_cast<unsigned>(block.start),
             static_cast<unsigned>(block.dataLength), signature);
      ShowPackage(args[0], bytes, block.start, block.dataLength);
      break;
    } else {
      uint32_t end = walk.End();
      bool marker = (end >= 7 && memcmp(Data(bytes) + end - 7, "Cookies", 7) == 0) ||
                    (end >= 6 && memcmp(Data(bytes) + end - 6, "Suffix", 6) == 0);
      if (marker)
        printf("  broken block ending at %u: its offset does not lead backwards\n", static_cast<unsigned>(end));
      else if (last)
        printf("  no appended blocks\n");
      printf("  no package\n");
      break;
    }
    last = false;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage("no command");
  std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "stamp") return Stamp(args);
  if (command == "embed") return Embed(args);
  if (command == "show") return Show(args);
  if (command == "verify") return Verify(args);
#if SETUP_MAKER_SERVE
  if (command == "serve") return ServeDownloads(args);
#else
  if (command == "serve") return Fail("serve is a command of the native tool (it needs the FastCGI library)");
#endif
  if (command == "help" || command == "--help" || command == "-h") {
    printf("%s", kUsage);
    return 0;
  }
  return Usage("unknown command \"" + command + "\"");
}
