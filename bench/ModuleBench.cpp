// Per-hop overhead of the graph: one Send through a link to N sinks, with
// uncontended locks. Time per iteration / N is the cost of one hop.
#include "Core/ModuleBase.h"
#include "Core/ModuleLinker.h"
#include "DataBuffer/Packet.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

using namespace Tav;

class Source : public CModuleBase {
public:
    void OnInitialize() override
    {
        CModuleBase::OnInitialize();
        SetErrorPort(0);
        AddOutputPort(1);
    }
    void Emit(const CSmartPointer<IPacket>& p) { Send(1, p); }
};

class Sink : public CModuleBase {
public:
    void OnData(int, const CSmartPointer<IPacket>& p) override { benchmark::DoNotOptimize(p.Get()); }
};

void BM_SendThroughLink(benchmark::State& state)
{
    const int sinkCount = static_cast<int>(state.range(0));
    Source source;
    source.Initialize("Source", nullptr);
    std::vector<std::unique_ptr<Sink>> sinks;
    CModuleLinker linker;
    for (int i = 0; i < sinkCount; ++i) {
        sinks.push_back(std::make_unique<Sink>());
        sinks.back()->Initialize("Sink" + std::to_string(i), nullptr);
        linker.Link(&source, 1, sinks.back().get(), 1);
    }
    CSmartPointer<IPacket> packet = CPacket::Create();
    for (auto _ : state)
        source.Emit(packet);
    // Inverted rate of hops/1e9: nanoseconds per hop.
    state.counters["ns_per_hop"] = benchmark::Counter(double(state.iterations()) * sinkCount * 1e-9,
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    linker.UnlinkAll();
}
BENCHMARK(BM_SendThroughLink)->Arg(1)->Arg(2)->Arg(4);

} // namespace
