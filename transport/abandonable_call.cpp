#include "transport/abandonable_call.h"

#include <wininet.h>

#include "base/cancel_flag.h"

namespace {
// How often a wait looks at the cancel flag.
const DWORD kWaitSliceMs = 100;
// A left call gets this long to end before its caller goes on; short, as a
// Cancel comes this way.
const DWORD kEndGraceMs = 200;
}  // namespace

AbandonableCall::~AbandonableCall() {
  if (go_) CloseHandle(go_);
  if (done_) CloseHandle(done_);
  if (pin_) FreeLibrary(pin_);
}

void AbandonableCall::Drop() {
  if (InterlockedDecrement(&holders_) == 0) delete this;
}

bool AbandonableCall::Start(FARPROC code) {
  go_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  done_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(code), &pin_);
  HANDLE thread = go_ && done_ ? CreateThread(nullptr, 0, Thread, this, 0, nullptr) : nullptr;
  if (!thread) return false;
  InterlockedIncrement(&holders_);
  CloseHandle(thread);
  return true;
}

DWORD WINAPI AbandonableCall::Thread(void* self) {
  AbandonableCall* call = static_cast<AbandonableCall*>(self);
  // A run put in place is taken even when its caller has left by now (the
  // two signals may have come as one): its calls are not made, but what it
  // leaves behind is cleaned up.
  while (WaitForSingleObject(call->go_, INFINITE) == WAIT_OBJECT_0) {
    if (InterlockedExchange(&call->pending_, 0)) {
      if (!call->Left()) call->Work();
      if (InterlockedCompareExchange(&call->state_, kIdle, kRunning) == kLeft) call->EndedAlone();
      SetEvent(call->done_);
    }
    if (call->quit_) break;
  }
  call->Drop();
  return 0;
}

bool AbandonableCall::Run(DWORD limit_ms) {
  InterlockedExchange(&state_, kRunning);
  InterlockedExchange(&pending_, 1);
  SetEvent(go_);
  DWORD start = GetTickCount(), wait;
  while ((wait = WaitForSingleObject(done_, kWaitSliceMs)) == WAIT_TIMEOUT && !IsCancelRequested() &&
         GetTickCount() - Since(start) < limit_ms) {
  }
  if (wait == WAIT_OBJECT_0) return true;
  // The mark comes first: from here on the thread starts no call.
  if (InterlockedExchange(&state_, kLeft) == kIdle) {
    // Ended just now: its signal is taken, so the next run waits for its own.
    WaitForSingleObject(done_, INFINITE);
    return true;
  }
  Leaving();
  WaitForSingleObject(done_, kEndGraceMs);
  SetLastError(IsCancelRequested() ? ERROR_CANCELLED : ERROR_INTERNET_TIMEOUT);
  return false;
}

void AbandonableCall::Release() {
  InterlockedExchange(&state_, kLeft);
  InterlockedExchange(&quit_, 1);
  if (go_) SetEvent(go_);
  Drop();
}
