#pragma once
#include <windows.h>

#include "base/file_utils.h"

// The output file of one download: created (or emptied) for writing, and
// deleted again when the download ends without Keep, so that a failed
// download leaves no file behind for anyone to take for the real one.
class DownloadFile {
 public:
  explicit DownloadFile(const char* path) : path_(path), kept_(false) { file_.CreateForWriting(path); }
  ~DownloadFile() {
    if (!file_.IsOpen()) return;  // never made: whatever is there is not ours
    file_.Close();
    if (!kept_) DeleteFileA(path_);
  }
  DownloadFile(const DownloadFile&) = delete;
  DownloadFile& operator=(const DownloadFile&) = delete;

  bool IsOpen() const { return file_.IsOpen(); }
  // A short write counts as failure: the file would miss bytes.
  bool Write(const void* data, DWORD length) {
    DWORD written = 0;
    return WriteFile(file_.Handle(), data, length, &written, nullptr) && written == length;
  }
  // The download succeeded: the file stays. Returns true for the caller's return.
  bool Keep() {
    kept_ = true;
    return true;
  }

 private:
  FileHandle file_;
  const char* path_;
  bool kept_;
};
