#pragma once
// Opens the diagnostic log's sink on a scratch file for one test and gives
// back what was printed.
#include <windows.h>

#include <string>

#include "base/diagnostic_log.h"
#include "tests/support/test_support.h"

namespace testing_support {

class LogCapture {
 public:
  LogCapture() : path_(folder_.File("log.txt")) {
    sink_ = CreateFileA(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    LogSetSink(sink_);
  }
  ~LogCapture() {
    LogSetSink(INVALID_HANDLE_VALUE);
    if (sink_ != INVALID_HANDLE_VALUE) CloseHandle(sink_);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  bool Ok() const { return sink_ != INVALID_HANDLE_VALUE; }
  std::string Text() const { return ReadWholeFile(path_); }
  bool Contains(const std::string& piece) const { return Text().find(piece) != std::string::npos; }
  // How often piece occurs, compared without regard to case.
  int Count(const std::string& piece) const {
    std::string text = Lower(Text()), wanted = Lower(piece);
    int count = 0;
    for (size_t at = text.find(wanted); at != std::string::npos; at = text.find(wanted, at + 1)) ++count;
    return count;
  }

 private:
  static std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
  }
  ScratchFolder folder_;
  std::string path_;
  HANDLE sink_;
};

}  // namespace testing_support
