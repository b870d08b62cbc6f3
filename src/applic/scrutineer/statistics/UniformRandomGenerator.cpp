#include "UniformRandomGenerator.h"

#include <atomic>
#include <climits>
#include <cstdint>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <mutex>

namespace Tav {

namespace {

constexpr int32_t Multiplier = 16807;
constexpr int32_t Modulus = 2147483647;
constexpr int32_t Quotient = 127773; // Modulus / Multiplier
constexpr int32_t Remainder = 2836;  // Modulus % Multiplier
constexpr double Scale = 4.656612875245797e-10; // 1 / Modulus
constexpr double Largest = 0.99999988;
constexpr int32_t Divisor = 1 + (Modulus - 1) / 32;

} // namespace

CUniformRandomGenerator::CUniformRandomGenerator(int32_t initial) : seed(initial), state(initial) {}

int32_t CUniformRandomGenerator::ClockState()
{
    // rand() is process-wide state: seeding and drawing belong together.
    static std::mutex mutex;
    static std::atomic<unsigned> calls{0};
    std::lock_guard<std::mutex> guard(mutex);
    // Two generators built in the same second still differ.
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    std::srand(static_cast<unsigned>(std::time(nullptr)) ^ static_cast<unsigned>(ticks) ^ (calls++ * 2654435761u));
    return -std::rand();
}

int32_t CUniformRandomGenerator::Step()
{
    const int32_t k = state / Quotient;
    state = Multiplier * (state - k * Quotient) - Remainder * k;
    if (state < 0)
        state += Modulus;
    return state;
}

void CUniformRandomGenerator::Rebuild()
{
    // Seeds are given negated; anything else starts from 1, as ran1 does.
    state = state < 0 ? (state == INT32_MIN ? INT32_MAX : -state) : 1;
    // The modulus itself would step to 0 and stay there (rand() can return it).
    if (state == Modulus)
        state = 1;
    // Eight steps warm the generator up before the table is filled.
    for (int j = TableSize + 7; j >= 0; --j) {
        Step();
        if (j < TableSize)
            table[j] = state;
    }
    last = table[0];
    rebuild = false;
}

double CUniformRandomGenerator::Next()
{
    if (rebuild || state <= 0 || last == 0)
        Rebuild();
    Step();
    const int j = last / Divisor;
    last = table[j];
    table[j] = state;
    const double value = Scale * last;
    return value > Largest ? Largest : value;
}

void CUniformRandomGenerator::Reseed()
{
    state = ClockState();
    rebuild = true;
}

void CUniformRandomGenerator::Reset()
{
    state = seed;
    rebuild = true;
}

} // namespace Tav
