// Cost of the framework's locks on the uncontended path every packet hop takes.
#include "Common/CriticalSectionWin32.h"
#include "Common/RWLock.h"

#include <benchmark/benchmark.h>

#include <shared_mutex>

namespace {

void BM_RWLockSharedPair(benchmark::State& state)
{
    Tav::CRWLock lock;
    lock.Create();
    for (auto _ : state) {
        lock.LockShared();
        lock.Unlock();
    }
}
BENCHMARK(BM_RWLockSharedPair);

void BM_RWLockExclusivePair(benchmark::State& state)
{
    Tav::CRWLock lock;
    lock.Create();
    for (auto _ : state) {
        lock.LockExclusive();
        lock.Unlock();
    }
}
BENCHMARK(BM_RWLockExclusivePair);

// The standard library's shared mutex, for comparison.
void BM_StdSharedMutexSharedPair(benchmark::State& state)
{
    std::shared_mutex lock;
    for (auto _ : state) {
        lock.lock_shared();
        lock.unlock_shared();
    }
}
BENCHMARK(BM_StdSharedMutexSharedPair);

void BM_CriticalSectionPair(benchmark::State& state)
{
    Tav::CCriticalSectionWin32 section;
    section.Create();
    for (auto _ : state) {
        section.Enter();
        section.Leave();
    }
}
BENCHMARK(BM_CriticalSectionPair);

} // namespace
