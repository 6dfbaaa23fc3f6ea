// The reader's speed over records in memory, beside a bare std::from_chars
// loop over the same numbers: how much the free-format rules cost on top of
// the conversion itself. Both report bytes of text per second.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>

#include "records/reader.hpp"

namespace {

// 1000 pairs of records of four 17-digit values, from a fixed sequence.
const std::string& records() {
    static const std::string text = [] {
        std::string out;
        std::uint64_t x = 1;
        char value[32];
        for (int record = 0; record < 2000; ++record) {
            for (int k = 0; k < 4; ++k) {
                x = x * 16807 % 2147483647;
                std::snprintf(value, sizeof value, "%.17g", 0.1 + 99.9 * static_cast<double>(x) / 2147483647.0);
                out += value;
                out += k < 3 ? ' ' : '\n';
            }
        }
        return out;
    }();
    return text;
}

void reader(benchmark::State& state) {
    const std::string& text = records();
    for (auto _ : state) {
        pairstat::inputstream in;
        in.openmemory(text.data(), text.data() + text.size());
        double v[4] = {0, 0, 0, 0};
        while (pairstat::readrecord(in, v[0], v[1], v[2], v[3]).status == pairstat::readstatus::complete)
            benchmark::DoNotOptimize(v);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(reader);

void barefromchars(benchmark::State& state) {
    const std::string& text = records();
    for (auto _ : state) {
        const char* p = text.data();
        const char* end = p + text.size();
        while (p < end) {
            double value;
            p = std::from_chars(p, end, value).ptr + 1;  // one separator after each value
            benchmark::DoNotOptimize(value);
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(barefromchars);

}  // namespace

BENCHMARK_MAIN();
