// Linked only into the end-to-end variant that stands for a build made with
// no publisher and no thumbprints: the publisher check is off.
#include "install/publisher_check.h"

namespace {

struct CheckOff {
  CheckOff() { SetUpdaterTrustForTesting("", ""); }
} g_check_off;

}  // namespace
