#include "platform/sim_host.h"

namespace {

// Runs before main, so that a missing or broken host file ends rxb540-sim
// with status 2 before any command is looked at.
const bool simulatedHostReady = SimHostStartFromEnvironment();

}  // namespace
