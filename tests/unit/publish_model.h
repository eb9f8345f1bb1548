// The runner on the documented file model: the targets of the two plans, one install, the sources put.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/PlanRunner.h"
#include "tests/unit/documented_files.h"

namespace testing_support {

const std::wstring kDesktop = L"D:\\Desktop";

struct Target {
    std::wstring source, target;
    bool kept;
};

std::vector<Target> Targets();
FailureReport Install(DocumentedFiles& files, std::uint32_t* noLock = nullptr);
std::string Narrow(const std::wstring& s);
std::string New(const std::wstring& source);
void PutSources(DocumentedFiles& files, const std::string& prefix, bool readOnlyAndMarked);
std::string Temporaries(const DocumentedFiles& files);

}  // namespace testing_support
