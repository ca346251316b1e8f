// Golden-text files beside the tests: named blocks of expected output, each opened by a line
// "== name". With VX_UPDATE_GOLDEN=1 in the environment a test rewrites its file instead.
#pragma once

#include "tests/asn1/Codec.h"
#include "tests/support/Asn1Vectors.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
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

// Cross-check against encodings made by an independent codec (fixtures/<fixture>, lines of
// "name type hex") and their reviewed texts (golden/<file>): each encoding decodes under rule
// to a value that prints as its text and encodes back to the same octets; the text reads back
// to an equal value that prints the same and, unless named in textLoses, encodes the same.
// With alsoBer the value also survives BER.
inline void checkVectors(const std::string& fixture, const std::string& file, int rule, std::size_t count,
                         const std::map<std::string, const void*>& records, const std::string& textLoses = "",
                         bool alsoBer = false)
{
    const auto vectors = Asn1Test::readVectors(std::string(VX_TEST_SOURCE_DIR) + "/fixtures/" + fixture);
    ASSERT_GE(vectors.size(), count);
    const bool defer = rule == ASN1::CoderEnv::per;
    auto texts = read(file);
    Blocks written;
    for (const Asn1Test::Vector& v : vectors) {
        SCOPED_TRACE(v.name);
        const std::string hex = Asn1Test::hexText(Asn1Test::hexBytes(v.hex));  // a fixture may be lower case
        const void* record = records.at(v.type);
        std::unique_ptr<ASN1::AbstractData> fromWire(ASN1::createFrom(record)), fromText(ASN1::createFrom(record));
        ASSERT_TRUE(asn1test::decodeHex(hex, *fromWire, rule, defer));
        EXPECT_EQ(asn1test::hexOf(*fromWire, rule), hex);
        written.emplace_back(v.name, fromWire->asValueNotation());
        if (updating())
            continue;
        ASSERT_TRUE(fromText->setFromValueNotation(texts[v.name]));
        EXPECT_EQ(fromText->compare(*fromWire), 0);
        EXPECT_EQ(fromText->asValueNotation(), texts[v.name]);
        if (v.name != textLoses)
            EXPECT_EQ(asn1test::hexOf(*fromText, rule), hex);
        if (alsoBer) {
            std::unique_ptr<ASN1::AbstractData> fromBer(ASN1::createFrom(record));
            ASSERT_TRUE(asn1test::decodeHex(asn1test::hexOf(*fromWire, ASN1::CoderEnv::ber), *fromBer,
                                            ASN1::CoderEnv::ber));
            EXPECT_EQ(fromBer->compare(*fromWire), 0);
        }
    }
    check(file, written);
}

}  // namespace golden
