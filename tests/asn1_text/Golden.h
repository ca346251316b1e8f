// Golden-text files beside the tests: named blocks of expected output. With
// VX_UPDATE_GOLDEN=1 in the environment a test rewrites its file instead of comparing.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace golden {

inline std::string path(const std::string& name) { return std::string(VX_TEST_SOURCE_DIR) + "/golden/" + name; }

inline bool updating()
{
    const char* v = std::getenv("VX_UPDATE_GOLDEN");
    return v && *v == '1';
}

// Blocks of a golden file: a line "== name" opens a block, the block's text runs to the next.
inline std::map<std::string, std::string> read(const std::string& file)
{
    std::map<std::string, std::string> blocks;
    std::ifstream in(path(file));
    std::string line, name, text;
    bool open = false;
    auto close = [&] {
        if (open) {
            if (!text.empty() && text.back() == '\n')
                text.pop_back();
            blocks[name] = text;
        }
    };
    while (std::getline(in, line)) {
        if (line.rfind("== ", 0) == 0) {
            close();
            name = line.substr(3);
            text.clear();
            open = true;
        } else {
            text += line + "\n";
        }
    }
    close();
    return blocks;
}

inline void write(const std::string& file, const std::vector<std::pair<std::string, std::string>>& blocks)
{
    std::ofstream out(path(file));
    for (const auto& [name, text] : blocks)
        out << "== " << name << "\n" << text << "\n";
}

// Expects each named text to equal its block of the file; rewrites the file instead when updating.
inline void check(const std::string& file, const std::vector<std::pair<std::string, std::string>>& texts)
{
    if (updating()) {
        write(file, texts);
        return;
    }
    auto expected = read(file);
    for (const auto& [name, text] : texts)
        EXPECT_EQ(text, expected[name]) << name;
}

}  // namespace golden
