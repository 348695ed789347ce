// The maker's tool on Linux and other POSIX systems: libgsf writes and reads
// the compound-file package, OpenSSL checks the signature.
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-output-memory.h>
#include <gsf/gsf-utils.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include "tools/maker/maker_platform.h"
#include "tools/maker/openssl_signature.h"

namespace {

// Drops a GObject reference when it goes out of scope.
class Unref {
 public:
  explicit Unref(void* object) : object_(object) {}
  ~Unref() {
    if (object_) g_object_unref(object_);
  }

 private:
  void* object_;
};

void StartGsf() {
  static bool started = false;
  if (!started) gsf_init();
  started = true;
}

std::vector<std::string> g_roots;

}  // namespace

bool BuildCompoundFile(const std::string& folder, const std::vector<PackageStream>& streams, std::string* bytes,
                       std::string* error) {
  StartGsf();
  GsfOutput* sink = gsf_output_memory_new();
  Unref sinkRelease(sink);
  bool ok = true;
  {
    GsfOutfile* root = gsf_outfile_msole_new(sink);
    Unref rootRelease(root);
    GsfOutput* child = root ? gsf_outfile_new_child(root, folder.c_str(), TRUE) : nullptr;
    Unref childRelease(child);
    if (!child) {
      *error = "cannot create folder \"" + folder + "\" in the package";
      return false;
    }
    for (const PackageStream& source : streams) {
      GsfOutput* stream = gsf_outfile_new_child(GSF_OUTFILE(child), source.name.c_str(), FALSE);
      Unref streamRelease(stream);
      if (!stream) {
        *error = "cannot create stream \"" + source.name + "\" in the package";
        return false;
      }
      if (!gsf_output_write(stream, source.bytes.size(), reinterpret_cast<const guint8*>(source.bytes.data())) ||
          !gsf_output_close(stream)) {
        *error = "cannot write stream \"" + source.name + "\" into the package";
        return false;
      }
    }
    ok = gsf_output_close(child) && gsf_output_close(GSF_OUTPUT(root));
  }
  if (!ok) {
    *error = "cannot complete the package";
    return false;
  }
  const guint8* data = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(sink));
  // Closing the package closed its sink too; the bytes stay until the unref.
  bytes->assign(reinterpret_cast<const char*>(data), static_cast<size_t>(gsf_output_size(sink)));
  return true;
}

void ShowPackage(const std::string&, const std::string& bytes, uint32_t start, uint32_t length) {
  StartGsf();
  GsfInput* source =
      gsf_input_memory_new(reinterpret_cast<const guint8*>(bytes.data()) + start, length, FALSE);
  Unref sourceRelease(source);
  GError* problem = nullptr;
  GsfInfile* root = gsf_infile_msole_new(source, &problem);
  Unref rootRelease(root);
  if (!root) {
    printf("    not a valid compound file (%s): Setup ignores it\n", problem ? problem->message : "unreadable");
    if (problem) g_error_free(problem);
    return;
  }
  for (int i = 0; i < gsf_infile_num_children(root); ++i) {
    GsfInput* item = gsf_infile_child_by_index(root, i);
    Unref itemRelease(item);
    if (!item) continue;
    // A stream is an input with no child list.
    if (gsf_infile_num_children(GSF_INFILE(item)) < 0) {
      printf("    %s  %llu bytes (outside any folder: never used)\n", gsf_input_name(item),
             static_cast<unsigned long long>(gsf_input_size(item)));
      continue;
    }
    printf("    folder %s\n", gsf_input_name(item));
    for (int j = 0; j < gsf_infile_num_children(GSF_INFILE(item)); ++j) {
      GsfInput* entry = gsf_infile_child_by_index(GSF_INFILE(item), j);
      Unref entryRelease(entry);
      if (!entry) continue;
      const char* kind = "";
      guint8 head[4] = {};
      gsf_off_t size = gsf_input_size(entry);
      if (gsf_infile_num_children(GSF_INFILE(entry)) < 0 && size >= 2 &&
          gsf_input_read(entry, size >= 4 ? 4 : 2, head)) {
        if (size >= 4 && memcmp(head, "MSCF", 4) == 0) kind = " (cabinet)";
        if (memcmp(head, "MZ", 2) == 0) kind = " (program)";
      }
      printf("      %s  %llu bytes%s\n", gsf_input_name(entry), static_cast<unsigned long long>(size), kind);
    }
  }
}

size_t ElementNameLength(const std::string& name) {
  // UTF-8 in, UTF-16 units out: a character past U+FFFF takes two.
  glong units = 0;
  gunichar2* wide = g_utf8_to_utf16(name.c_str(), static_cast<glong>(name.size()), nullptr, &units, nullptr);
  if (!wide) return 0;
  g_free(wide);
  return static_cast<size_t>(units);
}

bool SameElementName(const std::string& a, const std::string& b) {
  gchar* fa = g_utf8_casefold(a.c_str(), -1);
  gchar* fb = g_utf8_casefold(b.c_str(), -1);
  bool same = strcmp(fa, fb) == 0;
  g_free(fa);
  g_free(fb);
  return same;
}

bool SamePath(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return a == b;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool FileDosTime(const std::string& path, uint16_t* date, uint16_t* time) {
  struct stat info;
  struct tm local;
  if (stat(path.c_str(), &info) != 0 || !localtime_r(&info.st_mtime, &local)) return false;
  // The DOS form counts years from 1980 in seven bits, seconds in twos.
  if (local.tm_year < 80 || local.tm_year > 80 + 127) return false;
  *date = static_cast<uint16_t>((local.tm_year - 80) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
  *time = static_cast<uint16_t>(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
  return true;
}

bool ReplaceFileWith(const std::string& from, const std::string& to, std::string* error) {
  if (rename(from.c_str(), to.c_str()) == 0) return true;
  *error = "cannot write \"" + to + "\" (" + strerror(errno) + ")";
  remove(from.c_str());
  return false;
}

void UseBinaryStandardStreams() {}

bool TakeRootFiles(const std::vector<std::string>& files, std::string*) {
  g_roots = files;
  return true;
}

bool InspectSigner(const std::string&, const std::string& bytes, SignerReport* report, std::string* signingTime,
                   std::string* error) {
  SigningTime time;
  if (!InspectImageSignature(bytes, g_roots, report, error, &time)) return false;
  if (time.valid) {
    char when[32];
    time_t seconds = static_cast<time_t>(time.when);
    struct tm parts;
    strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", gmtime_r(&seconds, &parts));
    *signingTime = std::string("signing time ") + when + ", timestamped by \"" + time.authority +
                   "\": the chain is judged at that time";
  } else if (time.stamped) {
    *signingTime = "timestamp not valid (" + time.problem + "): the chain is judged at the current time";
  } else if (report->signer_found) {
    *signingTime = "no timestamp: the chain is judged at the current time, and fails once the certificate expires";
  }
  return true;
}

const SignerPolicy& BuiltPolicy() {
  static const SignerPolicy policy = {SETUP_UPDATER_PUBLISHER, SETUP_UPDATER_THUMBPRINTS, SETUP_UPDATER_PINS};
  return policy;
}

std::string Utf16Text(const uint16_t* units, size_t count) {
  glong length = 0;
  gchar* converted = g_utf16_to_utf8(reinterpret_cast<const gunichar2*>(units), static_cast<glong>(count), nullptr,
                                     &length, nullptr);
  std::string text = converted ? std::string(converted, static_cast<size_t>(length)) : std::string();
  g_free(converted);
  return text;
}
