#pragma once
#include <windows.h>

// A blocking platform call run on a thread of its own, so that its caller
// can wait in slices and leave it on Cancel or after a limit, whatever the
// platform does. The caller and the thread each hold the object; the last to
// let go deletes it, so a thread left inside a call never touches freed
// memory. Once left, the thread makes no further call: the caller may then
// close what the call used, and the platform may hand that handle's value to
// the next request.
class AbandonableCall {
 public:
  AbandonableCall()
      : go_(nullptr), done_(nullptr), pin_(nullptr), state_(kIdle), pending_(0), quit_(0), holders_(1) {}
  AbandonableCall(const AbandonableCall&) = delete;
  AbandonableCall& operator=(const AbandonableCall&) = delete;

  // Makes the thread; code is an address inside the library the calls run
  // in, kept mapped for the thread's life. False, with the error set and the
  // caller still to Release, when no bounded call can be had.
  bool Start(FARPROC code);
  // One Work on the thread. True when it ended; false when it was left (on
  // Cancel, after limit_ms counted from Since(), or on a failed wait), with
  // ERROR_CANCELLED or ERROR_INTERNET_TIMEOUT set; no run follows a left one.
  bool Run(DWORD limit_ms);
  // The caller lets go for good.
  void Release();

 protected:
  virtual ~AbandonableCall();
  // Thread: the calls of one run; between two calls it asks Left().
  virtual void Work() = 0;
  // Caller, each slice of a wait: the tick the limit counts from.
  virtual DWORD Since(DWORD start) { return start; }
  // Caller, once the mark is set: ends the pending call if it can.
  virtual void Leaving() {}
  // Thread: the run it was in has ended after the caller left.
  virtual void EndedAlone() {}
  bool Left() const { return state_ == kLeft; }

 private:
  enum { kIdle, kRunning, kLeft };
  static DWORD WINAPI Thread(void* self);
  void Drop();

  HANDLE go_;
  HANDLE done_;
  HMODULE pin_;
  volatile LONG state_;
  volatile LONG pending_;  // a run is put in place and not yet taken
  volatile LONG quit_;     // the caller has let go for good
  volatile LONG holders_;
};
