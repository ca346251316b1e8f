// Golden-text files beside the tests: named blocks of expected output, each opened by a line
// "== name". With VX_UPDATE_GOLDEN=1 in the environment a test rewrites its file instead.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace golden {

using Blocks = std::vector<std::pair<std::string, std::string>>;

inline std::string path(const std::string& name) { return std::string(VX_TEST_SOURCE_DIR) + "/golden/" + name; }

inline bool updating()
{
    const char* v = std::getenv("VX_UPDATE_GOLDEN");
    return v && *v == '1';
}

inline std::map<std::string, std::string> read(const std::string& file)
{
    std::map<std::string, std::string> blocks;
    std::ifstream in(path(file));
    std::string line, *text = nullptr;
    while (std::getline(in, line))
        if (line.rfind("== ", 0) == 0)
            text = &blocks[line.substr(3)];
        else if (text)
            *text += (text->empty() ? "" : "\n") + line;
    return blocks;
}

// Expects each named text to equal its block of the file; rewrites the file instead when updating.
inline void check(const std::string& file, const Blocks& texts)
{
    if (updating()) {
        std::ofstream out(path(file));
        for (const auto& [name, text] : texts)
            out << "== " << name << "\n" << text << "\n";
        return;
    }
    auto expected = read(file);
    for (const auto& [name, text] : texts)
        EXPECT_EQ(text, expected[name]) << name;
}

}  // namespace golden
