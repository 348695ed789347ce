// Linked only into the end-to-end variant that stands for a build made with
// no publisher, no thumbprints and no pins: the publisher check is off.
#include "install/publisher_check.h"

extern "C" void SetupTestStart();

extern "C" void SetupUncheckedStart() {
  SetUpdaterPolicyForTesting(SignerPolicy{"", "", ""});
  SetupTestStart();
}
