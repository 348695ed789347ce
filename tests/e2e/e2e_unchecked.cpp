// Linked only into the end-to-end variant that stands for a build made with
// no publisher, no thumbprints and no pins: the publisher check is off.
#include "install/publisher_check.h"

namespace {

struct CheckOff {
  CheckOff() { SetUpdaterPolicyForTesting(SignerPolicy{"", "", ""}); }
} g_check_off;

}  // namespace
