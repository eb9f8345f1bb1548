// The scenarios setup-check runs against the real system, in order.
#pragma once

#include "kit/src/check.h"

namespace kit {

struct Scenario {
    const char* id;
    const char* title;
    void (*run)(Kit&, Check&);
};

const std::vector<Scenario>& Scenarios();

// Read-only sources, and read-only sources with zone marks (source_scenarios.cpp).
void ReadOnlySourcesInstallWritable(Kit& kit, Check& check);
void MarkedReadOnlySources(Kit& kit, Check& check);

// A target held open without sharing, a source under a byte-range lock, a
// removed list held with delete sharing (held_scenarios.cpp).
void HeldTarget(Kit& kit, Check& check);
void LockedSource(Kit& kit, Check& check);
void RemovalHeldWithDeleteSharing(Kit& kit, Check& check);

// An expandable non-ASCII desktop, another folder and another name to start
// from, the main window after an error (start_scenarios.cpp).
void ExpandableNonAsciiDesktop(Kit& kit, Check& check);
void StartedElsewhere(Kit& kit, Check& check);
void RenamedSetup(Kit& kit, Check& check);
void WindowAfterError(Kit& kit, Check& check);

// The data tree's Dokum made a junction to a folder of the kit's.
void JunctionedDataFolder(Kit& kit, Check& check);

// The file-operation contract suite beside the kit, as one more scenario.
void RunContractSuite(Kit& kit, Check& check);

}  // namespace kit
