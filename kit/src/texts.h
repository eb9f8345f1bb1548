// The product's box texts as the tests expect them, built in from
// tests/expected_texts.tsv, which the Wine tests read too.
#pragma once

#include <string>

namespace kit {

struct ExpectedTexts {
    std::wstring completed[5], upgraded[5];
    std::wstring incomplete[5];  // %d the count, %s the first target
    std::wstring wrongFolder;    // English: %s where Setup was started, %s where the files are
};
// A table that lacks a text is an error in the kit.
const ExpectedTexts& Texts();

}  // namespace kit
