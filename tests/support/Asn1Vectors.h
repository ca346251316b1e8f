// Encodings made by an independent codec, kept as fixture files of "name type hex" lines;
// blank lines and lines starting with '#' are skipped.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace Asn1Test {

struct Vector {
    std::string name, type, hex;
};

// The vectors of the file in file order; none when it cannot be read.
inline std::vector<Vector> readVectors(const std::string& path)
{
    std::ifstream in(path);
    std::vector<Vector> out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        Vector v;
        fields >> v.name >> v.type >> v.hex;
        out.push_back(v);
    }
    return out;
}

}  // namespace Asn1Test
