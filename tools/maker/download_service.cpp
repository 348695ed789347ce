#include "tools/maker/download_service.h"

#include <errno.h>
#include <fcgiapp.h>
#include <openssl/evp.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <utility>

#include "package/appended_blocks.h"
#include "tools/maker/download_rules.h"
#include "tools/maker/signed_image.h"

namespace {

const char kUsage[] =
    "usage: maker serve SIGNED [--keys KEY,KEY...] [--max-age SECONDS] [--name FILENAME] [--socket PATH]\n"
    "                   [--log FILE]";

volatile sig_atomic_t reloadWanted = 0;
volatile sig_atomic_t stopWanted = 0;
void OnReload(int) { reloadWanted = 1; }
void OnStop(int) { stopWanted = 1; }

struct Options {
  std::string path;
  std::vector<std::string> keys = {"Partner", "Campaign"};
  std::string maxAge = "3600";
  std::string name;  // the download's file name; default: SIGNED's own
  std::string socket;
  std::string log;  // spawn-fcgi sends standard error to /dev/null
};

// The signed image every answer is stamped from.
struct Base {
  std::string image;
  CertificateTable table;
  std::string digest;  // SHA-256 of image, names the base in entity tags
};

std::string Sha256(const std::string& bytes) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (!EVP_Digest(bytes.data(), bytes.size(), out, &size, EVP_sha256(), nullptr)) return std::string();
  return std::string(reinterpret_cast<char*>(out), size);
}

bool LoadBase(const std::string& path, Base* base, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *error = "cannot open \"" + path + "\" (" + strerror(errno) + ")";
    return false;
  }
  std::string image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // Answers are written in one call that counts in int.
  if (file.bad() || image.size() > (1u << 30)) {
    *error = "cannot read \"" + path + "\", or it is 1 GiB or larger";
    return false;
  }
  CertificateTable table;
  std::string trial = image;
  bool replaced = false;
  // A trial stamp: a base the stamp cannot edit is refused now, not per request.
  if (!ReadCertificateTable(image, &table, error) ||
      !StampInSignature(&trial, table, MakeParameterBlock("a=1"), &replaced, error)) {
    *error = "\"" + path + "\" is no signed image the maker can stamp: " + *error;
    return false;
  }
  base->image = std::move(image);
  base->table = table;
  base->digest = Sha256(base->image);
  return !base->digest.empty();
}

// Strong: the same base and parameters always give the same bytes.
std::string EntityTag(const Base& base, const std::string& query) {
  std::string digest = Sha256(base.digest + query);
  static const char kHex[] = "0123456789abcdef";
  std::string tag = "\"";
  for (size_t i = 0; i < 16 && i < digest.size(); ++i) {
    tag += kHex[static_cast<unsigned char>(digest[i]) >> 4];
    tag += kHex[digest[i] & 15];
  }
  return tag + "\"";
}

void Put(FCGX_Request& request, const std::string& bytes) {
  // A client gone mid-answer is no fault of the service: nothing to do.
  FCGX_PutStr(bytes.data(), static_cast<int>(bytes.size()), request.out);
}

void Refuse(FCGX_Request& request, bool head, const char* status, const std::string& text,
            const char* extra = "") {
  Put(request, std::string("Status: ") + status + "\r\nContent-Type: text/plain\r\nCache-Control: no-store\r\n" +
                   extra + "\r\n" + (head ? "" : text + "\n"));
}

void Answer(FCGX_Request& request, const Base& base, const Options& options) {
  const char* method = FCGX_GetParam("REQUEST_METHOD", request.envp);
  bool head = method && strcmp(method, "HEAD") == 0;
  if (!head && !(method && strcmp(method, "GET") == 0))
    return Refuse(request, false, "405 Method Not Allowed", "GET or HEAD only", "Allow: GET, HEAD\r\n");
  const char* raw = FCGX_GetParam("QUERY_STRING", request.envp);
  std::string query = raw ? raw : "";
  std::string why = JudgeQuery(query, options.keys);
  if (!why.empty()) return Refuse(request, head, "400 Bad Request", why);
  std::string tag = EntityTag(base, query);
  std::string validators = "ETag: " + tag + "\r\nCache-Control: public, max-age=" + options.maxAge + "\r\n";
  const char* match = FCGX_GetParam("HTTP_IF_NONE_MATCH", request.envp);
  if (match && NoneMatchHolds(match, tag)) return Put(request, "Status: 304 Not Modified\r\n" + validators + "\r\n");
  std::string copy = base.image, error;
  bool replaced = false;
  if (!StampInSignature(&copy, base.table, MakeParameterBlock(query), &replaced, &error)) {
    FCGX_FPrintF(request.err, "maker serve: stamping \"%s\" failed: %s\n", query.c_str(), error.c_str());
    return Refuse(request, head, "500 Internal Server Error", "stamping failed");
  }
  // Stamped whole before the answer starts: a failure is a 500, never half a file.
  Put(request, "Status: 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                   std::to_string(copy.size()) + "\r\nContent-Disposition: attachment; filename=\"" + options.name +
                   "\"\r\n" + validators + "\r\n");
  if (!head) Put(request, copy);
}

void Reload(const Options& options, Base* base) {
  reloadWanted = 0;
  Base fresh;
  std::string error;
  if (!LoadBase(options.path, &fresh, &error)) {
    fprintf(stderr, "maker serve: kept the base in hand: %s\n", error.c_str());
    return;
  }
  *base = std::move(fresh);
  fprintf(stderr, "maker serve: new base \"%s\" (%zu bytes)\n", options.path.c_str(), base->image.size());
}

bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--keys" || arg == "--max-age" || arg == "--name" || arg == "--socket" || arg == "--log") {
      if (i + 1 >= args.size()) {
        *error = arg + " needs a value";
        return false;
      }
      const std::string& value = args[++i];
      if (arg == "--keys") {
        options->keys.clear();
        for (size_t at = 0; at <= value.size();) {
          size_t end = value.find(',', at);
          if (end == std::string::npos) end = value.size();
          options->keys.push_back(value.substr(at, end - at));
          at = end + 1;
        }
      } else if (arg == "--max-age") {
        options->maxAge = value;
      } else if (arg == "--name") {
        options->name = value;
      } else if (arg == "--log") {
        options->log = value;
      } else {
        options->socket = value;
      }
    } else if (arg.compare(0, 2, "--") == 0 || !options->path.empty()) {
      *error = "unknown argument \"" + arg + "\"";
      return false;
    } else {
      options->path = arg;
    }
  }
  if (options->path.empty()) {
    *error = "serve takes the signed Setup.exe";
    return false;
  }
  for (const std::string& key : options->keys) {
    if (!PlainText(key)) {
      *error = "keys take letters, digits, -, _ and . only: \"" + key + "\"";
      return false;
    }
  }
  if (options->maxAge.empty() || options->maxAge.size() > 9 ||
      options->maxAge.find_first_not_of("0123456789") != std::string::npos) {
    *error = "--max-age takes seconds, e.g. 3600";
    return false;
  }
  if (options->name.empty()) options->name = options->path.substr(options->path.find_last_of('/') + 1);
  if (!PlainText(options->name)) {
    *error = "the file name \"" + options->name + "\" takes letters, digits, -, _ and . only; give --name";
    return false;
  }
  return true;
}

}  // namespace

int ServeDownloads(const std::vector<std::string>& args) {
  Options options;
  std::string error;
  if (!ParseOptions(args, &options, &error)) {
    fprintf(stderr, "maker: %s\n%s\n", error.c_str(), kUsage);
    return 2;
  }
  if (!options.log.empty() && !freopen(options.log.c_str(), "a", stderr)) return 1;
  setvbuf(stderr, nullptr, _IOLBF, 0);
  Base base;
  if (!LoadBase(options.path, &base, &error)) {
    fprintf(stderr, "maker: %s\n", error.c_str());
    return 1;
  }
  // No SA_RESTART: a signal ends the wait for the next request.
  struct sigaction action = {};
  sigemptyset(&action.sa_mask);
  action.sa_handler = OnReload;
  sigaction(SIGHUP, &action, nullptr);
  action.sa_handler = OnStop;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  if (FCGX_Init() != 0) {
    fprintf(stderr, "maker: the FastCGI library did not start\n");
    return 1;
  }
  int listener = 0;  // spawn-fcgi and socket units hand the listening socket over as standard input
  struct stat status;
  if (!options.socket.empty()) {
    listener = FCGX_OpenSocket(options.socket.c_str(), 256);
    if (listener < 0) {
      fprintf(stderr, "maker: cannot listen on \"%s\"\n", options.socket.c_str());
      return 1;
    }
  } else if (fstat(0, &status) != 0 || !S_ISSOCK(status.st_mode)) {
    fprintf(stderr, "maker: standard input is no listening socket: start serve under spawn-fcgi, or give --socket\n");
    return 2;
  }
  FCGX_Request request;
  FCGX_InitRequest(&request, listener, FCGI_FAIL_ACCEPT_ON_INTR);
  fprintf(stderr, "maker serve: \"%s\" (%zu bytes), ready\n", options.path.c_str(), base.image.size());
  while (!stopWanted) {
    if (reloadWanted) Reload(options, &base);
    if (FCGX_Accept_r(&request) < 0) {
      if (reloadWanted || stopWanted || errno == EINTR) continue;
      fprintf(stderr, "maker serve: waiting for requests failed (%s)\n", strerror(errno));
      return 1;
    }
    // Between requests, never during one: none is dropped or mixed.
    if (reloadWanted) Reload(options, &base);
    Answer(request, base, options);
    FCGX_Finish_r(&request);
  }
  fprintf(stderr, "maker serve: stopped\n");
  return 0;
}
