#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace HDRTest {

// Samples drawn uniformly from [low, high].
inline std::vector<uint16_t> RandomImage(int32_t width, int32_t height, uint16_t low,
                                         uint16_t high, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> value(low, high);
    std::vector<uint16_t> image(static_cast<size_t>(width) * height);
    for (auto& sample : image)
        sample = static_cast<uint16_t>(value(random));
    return image;
}

} // namespace HDRTest
