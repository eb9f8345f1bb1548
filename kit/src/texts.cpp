#include "kit/src/texts.h"

#include <sstream>

#include "expected_texts_tsv.h"  // kExpectedTextsTsv, generated from tests/expected_texts.tsv
#include "kit/src/check.h"

namespace kit {
namespace {

ExpectedTexts Parse() {
    ExpectedTexts texts;
    std::istringstream in(kExpectedTextsTsv);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const auto tab1 = line.find('\t'), tab2 = line.find('\t', tab1 + 1);
        if (tab2 == std::string::npos || tab2 != tab1 + 2 || line[tab1 + 1] < '0' || line[tab1 + 1] > '4')
            throw std::runtime_error("expected texts: a line not of kind, language, text: " + line);
        const std::string kind = line.substr(0, tab1);
        const int language = line[tab1 + 1] - '0';
        const std::wstring text = Wide(line.substr(tab2 + 1));
        if (kind == "completed") texts.completed[language] = text;
        else if (kind == "upgraded") texts.upgraded[language] = text;
        else if (kind == "incomplete") texts.incomplete[language] = text;
        else if (kind == "wrong-folder" && language == 1) texts.wrongFolder = text;
    }
    for (int language = 0; language < 5; ++language)
        if (texts.completed[language].empty() || texts.upgraded[language].empty() || texts.incomplete[language].empty())
            throw std::runtime_error("expected texts: language " + std::to_string(language) + " lacks a text");
    if (texts.wrongFolder.empty()) throw std::runtime_error("expected texts: no English wrong-folder line");
    return texts;
}

}  // namespace

const ExpectedTexts& Texts() {
    static const ExpectedTexts texts = Parse();
    return texts;
}

}  // namespace kit
