// The stages of the installer's run, announced as the run enters each, so
// that a benchmark build can time the real sequence stage by stage: it sets
// the listener before the entry point runs (bench/phases.cpp). The product
// never sets one, and then a mark is a test of a null pointer.
#pragma once

enum class RunStage : int {
    Sequence,   // the update sequence begins: the process's start-up is over
    SelfCheck,  // the check of the installer's own file (a quiet run's is made with the write)
    Write,      // the data file written beside the installed one and moved over it
    Size,       // the installed size, stored in the registry
    Ending,     // what follows the size, up to the end of the process
};

inline void (*RunStageListener)(RunStage) = nullptr;

inline void MarkRunStage(RunStage stage) {
    if (RunStageListener) RunStageListener(stage);
}
