#pragma once

// The process-wide cancel flag: set by the window's Cancel while a worker
// runs, read by the install sequence and the file fetcher. Only its eventual
// visibility matters, so relaxed ordering is enough.
bool IsCancelRequested();
void SetCancelRequested(bool value);
