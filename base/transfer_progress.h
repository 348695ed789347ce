#pragma once
#include <stdint.h>

// Where a transport reports how far a download has come. The file fetcher
// hands one to the connection's Download for the updater; the connection
// holds it only while that transfer runs, so the connection test and the
// gateway query report nothing. Called on the worker thread as often as a
// read loop likes: the sink decides what is worth showing.
class TransferProgress {
 public:
  virtual ~TransferProgress() {}
  // done: bytes stored so far; total: the expected size, 0 when unknown.
  virtual void Report(uint64_t done, uint64_t total) = 0;
};
