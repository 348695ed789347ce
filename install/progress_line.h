#pragma once
#include "base/transfer_progress.h"
#include "install/install_sequence.h"
#include "install/progress_text.h"

// The sink a download step hands to the fetcher: shows the transfer in the
// window's status line and empties the line again when the step ends (the
// object goes). After Cancel it shows nothing more, so no progress text
// overwrites "Cancelling Please wait".
class ProgressLine : public TransferProgress {
 public:
  explicit ProgressLine(InstallHost& host);
  ~ProgressLine() override;
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void Report(uint64_t done, uint64_t total) override;

 private:
  InstallHost& host_;
  ProgressText text_;
};
