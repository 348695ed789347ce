#include "install/progress_line.h"

#include <windows.h>

#include "base/cancel_flag.h"
#include "base/ui_language.h"

ProgressLine::ProgressLine(InstallHost& host)
    : host_(host), text_(UiPattern(kUiDownloadingPart), UiPattern(kUiDownloading)) {}

ProgressLine::~ProgressLine() {
  if (text_.Shown()) host_.SetStatusLine(L"");
}

void ProgressLine::Report(uint64_t done, uint64_t total) {
  if (IsCancelRequested()) return;
  if (text_.Update(done, total, GetTickCount())) host_.SetStatusLine(text_.Text());
}
