#include "GaussRandomGenerator.h"

#include <cmath>

namespace Tav {

double CGaussRandomGenerator::Next()
{
    if (haveKept) {
        haveKept = false;
        return kept;
    }
    double v1, v2, rsq;
    do {
        v1 = 2.0 * CUniformRandomGenerator::Next() - 1.0;
        v2 = 2.0 * CUniformRandomGenerator::Next() - 1.0;
        rsq = v1 * v1 + v2 * v2;
    } while (rsq >= 1.0 || rsq == 0.0);
    const double factor = std::sqrt(-2.0 * std::log(rsq) / rsq);
    kept = v1 * factor;
    haveKept = true;
    return v2 * factor;
}

void CGaussRandomGenerator::Reseed()
{
    // A new state starts a new sequence: the kept value belongs to the old one.
    haveKept = false;
    CUniformRandomGenerator::Reseed();
}

void CGaussRandomGenerator::Reset()
{
    haveKept = false;
    CUniformRandomGenerator::Reset();
}

} // namespace Tav
