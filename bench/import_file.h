#pragma once

// A drop-import file of random ranges spread over the first octets 1 to 223
// (never 127), headed by 4096 minus its own length as the import asks.

#include <random>
#include <string>

namespace bw::bench {

inline std::string importFile(int entries) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> first(1, 223), part(0, 255);
    std::string body;
    for (int i = 0; i < entries; ++i) {
        int a = first(random);
        if (a == 127)
            a = 128;
        std::string net = std::to_string(a) + "." + std::to_string(part(random)) + "." +
                          std::to_string(part(random)) + ".";
        body += "imp:" + net + "0-" + net + std::to_string(part(random)) + "\r\n";
    }
    for (long head = 4096 - static_cast<long>(body.size());; --head) {
        std::string file = std::to_string(head) + "\r\n" + body;
        if (head == 4096 - static_cast<long>(file.size()))
            return file;
    }
}

}  // namespace bw::bench
