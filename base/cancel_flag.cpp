#include "base/cancel_flag.h"

#include <atomic>

static std::atomic<bool> g_cancel(false);

bool IsCancelRequested() { return g_cancel.load(std::memory_order_relaxed); }
void SetCancelRequested(bool value) { g_cancel.store(value, std::memory_order_relaxed); }
