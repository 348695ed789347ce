#include "base/cancel_flag.h"

#include <atomic>

static std::atomic<bool> g_cancel(false);

// Not inlined: in the 32-bit image a call is as short as the flag's load and
// needs no relocation.
__attribute__((noinline)) bool IsCancelRequested() { return g_cancel.load(std::memory_order_relaxed); }
void SetCancelRequested(bool value) { g_cancel.store(value, std::memory_order_relaxed); }
