// Input data shared by the tools' tests.
#ifndef TOOLS_TESTDATA_TEST_BYTES_H
#define TOOLS_TESTDATA_TEST_BYTES_H

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Incompressible bytes, the same for the same seed on every run.
inline Bytes RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(size);
    for (uint8_t& x : b) {
        x = static_cast<uint8_t>(rng());
    }
    return b;
}

#endif
