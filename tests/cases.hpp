// What the unit tests share: the case files of records/testdata, and numbers
// written as the program writes them.
//
// Reads a case file of records/testdata: each line that is not blank and does
// not start with '#' holds an input in quotation marks, with the escapes \n \r
// \t \0 \xNN \\ \", then a blank and what the test expects of it.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "records/number.hpp"

// X as the program writes it.
inline std::string number(double x) {
    char text[pairstat::maxnumberlength];
    return std::string(text, pairstat::formatnumber(x, text));
}

inline std::vector<std::pair<std::string, std::string>> cases(const std::string& name) {
    std::ifstream file(std::string(TESTDATA) + "/" + name);
    std::vector<std::pair<std::string, std::string>> out;
    for (std::string line; std::getline(file, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::string input;
        std::size_t i = 1;
        for (char c; (c = line[i]) != '"'; ++i) {
            if (c == '\\') {
                c = line[++i];
                c = c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c == '0' ? '\0' : c;
                if (c == 'x') c = static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16)), i += 2;
            }
            input += c;
        }
        out.emplace_back(input, line.substr(i + 2));
    }
    EXPECT_GT(out.size(), 10u) << name;
    return out;
}
