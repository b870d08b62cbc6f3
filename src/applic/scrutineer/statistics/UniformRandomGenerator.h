#pragma once

#include <cstdint>

namespace Tav {

// Uniform deviates in (0, 1): the minimal-standard multiplicative congruential
// generator (16807, modulus 2^31 - 1, Schrage's factorisation) behind a
// 32-entry Bays-Durham shuffle table.
class CUniformRandomGenerator {
public:
    // seed: the state Reset returns to. Seeds are negative numbers; the
    // table is built from the magnitude (from 1 for seeds >= 0).
    explicit CUniformRandomGenerator(int32_t seed);
    virtual ~CUniformRandomGenerator() = default;

    virtual double Next();
    // state = -rand() after seeding rand() with the clock; the stored seed
    // stays. The shuffle table is rebuilt on the next call.
    virtual void Reseed();
    // Back to the stored seed; the shuffle table is rebuilt on the next call.
    virtual void Reset();

    int32_t GetState() const { return state; }
    int32_t GetSeed() const { return seed; }
    // Makes the current state the stored seed.
    void StoreSeed() { seed = state; }

    // A state derived from the clock, as Reseed sets it.
    static int32_t ClockState();

private:
    int32_t Step();
    void Rebuild();

    static constexpr int TableSize = 32;
    int32_t seed;
    int32_t state;
    int32_t last = 0;
    int32_t table[TableSize] = {};
    bool rebuild = true;
};

} // namespace Tav
