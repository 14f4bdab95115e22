// Covers: nothing (the runner). Runs the unit tests; a call the simulated PC does not model fails the test
// that made it instead of aborting the whole run.
#include <gtest/gtest.h>

#include "tests/sim/machine.h"

namespace {
void FailTest(const std::string& what) { ADD_FAILURE() << "simulated PC: not modelled: " << what; }
}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    Sim::SetUnmodelledHandler(FailTest);
    return RUN_ALL_TESTS();
}
