// The fixture of the whole installation: a sandbox, its boxes captured, the desktop lookups counted.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "app/Unit1.h"
#include "platform/shellfolders.h"
#include "platform/startup.h"
#include "tests/unit/test_support.h"

namespace testing_support {

class Installation : public ::testing::Test {
protected:
    void SetUp() override {
        Languagem = 0;
        instal = upgrade = false;
    }
    int Run() {
        lookupsBefore_ = shellfolders::LookupCount();
        return ::Setup();
    }
    unsigned long Lookups() const { return shellfolders::LookupCount() - lookupsBefore_; }
    std::string Boxes() { return console_.Out(); }
    std::string Errors() { return console_.Err(); }

    Sandbox box_;
    ConsoleCapture console_;
    unsigned long lookupsBefore_ = 0;
};

}  // namespace testing_support
