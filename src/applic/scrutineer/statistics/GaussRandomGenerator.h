#pragma once

#include "UniformRandomGenerator.h"

namespace Tav {

// Normal deviates of mean 0 and variance 1 by the polar Box-Muller method;
// each accepted pair gives two values, the second kept for the next call.
class CGaussRandomGenerator : public CUniformRandomGenerator {
public:
    explicit CGaussRandomGenerator(int32_t seed) : CUniformRandomGenerator(seed) {}

    double Next() override;
    void Reseed() override;
    void Reset() override;

private:
    bool haveKept = false;
    double kept = 0.0;
};

} // namespace Tav
