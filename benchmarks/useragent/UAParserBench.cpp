// Agents per second over the whole user-agent corpus, on one thread:
//   useragent_bench [--benchmark_filter=...]
// The agents are the tests' own (tests/data/ua).
#include "useragent/UAParser.h"

#include "useragent/UACorpus.h"

#include <benchmark/benchmark.h>

namespace {

const QStringList& corpus() {
    static const QStringList agents = uacorpus::loadAllAgents(QStringLiteral(VANTRY_UA_CORPUS));
    return agents;
}

template <typename Read> void runOverCorpus(benchmark::State& state, Read read) {
    const QStringList& agents = corpus();
    if (agents.isEmpty()) {
        state.SkipWithError("user-agent corpus not found");
        return;
    }
    qsizetype i = 0;
    for (auto _ : state) {
        UAParser parser(agents.at(i));
        read(parser);
        if (++i == agents.size())
            i = 0;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["agents"] = static_cast<double>(agents.size());
}

void BM_OsOnly(benchmark::State& state) {
    runOverCorpus(state, [](UAParser& p) { benchmark::DoNotOptimize(p.os()); });
}

void BM_AllFive(benchmark::State& state) {
    runOverCorpus(state, [](UAParser& p) {
        benchmark::DoNotOptimize(p.browser());
        benchmark::DoNotOptimize(p.cpu());
        benchmark::DoNotOptimize(p.device());
        benchmark::DoNotOptimize(p.engine());
        benchmark::DoNotOptimize(p.os());
    });
}

// One hostile 10,000-character agent, all five kinds: bounded by the match cap.
void BM_HostileAgent(benchmark::State& state) {
    const QString agent = QStringLiteral("android;le pan ").repeated(667).left(10000);
    for (auto _ : state) {
        UAParser parser(agent);
        benchmark::DoNotOptimize(parser.browser());
        benchmark::DoNotOptimize(parser.cpu());
        benchmark::DoNotOptimize(parser.device());
        benchmark::DoNotOptimize(parser.engine());
        benchmark::DoNotOptimize(parser.os());
    }
}

} // namespace

BENCHMARK(BM_OsOnly)->MinTime(2.0);
BENCHMARK(BM_AllFive)->MinTime(2.0);
BENCHMARK(BM_HostileAgent)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
