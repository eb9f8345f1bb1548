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

// The data tree's Dokum made a junction to a folder of the kit's.
void JunctionedDataFolder(Kit& kit, Check& check);

// The file-operation contract suite beside the kit, as one more scenario.
void RunContractSuite(Kit& kit, Check& check);

}  // namespace kit
