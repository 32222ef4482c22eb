// The fault runs whose counts the fault-injection summary also carries:
// every regstore write command under every fault, and power cuts during
// imports and during the upgrade of an old store. Each is a test of its own and runs again inside
// the summary.
#ifndef BREVLIN_TESTS_FAULTS_FAULT_TALLIES_H_
#define BREVLIN_TESTS_FAULTS_FAULT_TALLIES_H_

#include <string>

namespace fault_tests {

// What a set of fault runs found. Every count but `faults` and
// `clear_failures` must end at 0.
struct FaultTally {
  int faults = 0;           // faults injected
  int clear_failures = 0;   // runs that ended non-zero without a success line
  int false_successes = 0;  // runs that reported success for a change the store lacks
  int broken_stores = 0;    // stores left unsound, or holding half of a command's change
  int lost_changes = 0;     // changes reported done that a power cut took
};

// Runs each regstore command that writes against each fault (a full disk, a
// failed write, a failed sync, a read-only store, a store replaced, a busy
// store, a kill) and judges each run; failures are reported to GoogleTest.
// `folder` is the test's own folder.
FaultTally RunRegstoreFaults(const std::string& folder);

// Cuts the power `cuts` times at random points of register-brevlin and
// regstore imports into one store; after each cut the store must be sound
// and every import that had ended with success whole.
FaultTally RunPowerCuts(const std::string& folder, int cuts);

// Cuts the power `cuts` times at random points of the upgrade of a store
// made by the 1.0 programs; after each cut the store must be the old one or
// the upgraded one, and after the next write the upgraded one, whole.
FaultTally RunMigrationCuts(int cuts);

}  // namespace fault_tests

#endif  // BREVLIN_TESTS_FAULTS_FAULT_TALLIES_H_
