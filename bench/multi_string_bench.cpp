// Walking and rebuilding lists from one entry to about 1 MiB, each beside
// memcpy of the same bytes; entries of 8 to 24 characters, ksthunk absent,
// so that every rebuild copies the whole list.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "multi_string.h"

namespace {

std::string ListOfAbout(std::size_t size) {
  std::string list;
  for (std::size_t i = 0; list.empty() || list.size() + 25 <= size; ++i) {
    std::string entry = "filter" + std::to_string(i * 7919);
    entry.resize(8 + i % 17, 'x');
    list += entry;
    list += '\0';
  }
  return list + '\0';
}

void Walk(benchmark::State& state) {
  const std::string list =
      ListOfAbout(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::size_t offset = 0;
    std::string_view entry;
    std::size_t entries = 0;
    while (NextEntry(list, offset, entry)) {
      ++entries;
    }
    benchmark::DoNotOptimize(entries);
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(list.size()));
}

void Rebuild(benchmark::State& state) {
  const std::string list =
      ListOfAbout(static_cast<std::size_t>(state.range(0)));
  std::vector<char> target(static_cast<std::size_t>(RebuiltListSize(list, 7)));
  for (auto _ : state) {
    std::size_t built = 0;
    benchmark::DoNotOptimize(
        RebuildWithEntry(list, "ksthunk", "ksthunk", target, built));
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(list.size()));
}

// The search for ksthunk skips from one 'k' to the next: a list whose
// entries are all k's is its slowest case.
void RebuildAllKs(benchmark::State& state) {
  std::string list;
  for (std::size_t i = 0;
       list.size() + 25 <= static_cast<std::size_t>(state.range(0)); ++i) {
    list += std::string(8 + i % 17, 'k') + '\0';
  }
  list += '\0';
  std::vector<char> target(static_cast<std::size_t>(RebuiltListSize(list, 7)));
  for (auto _ : state) {
    std::size_t built = 0;
    benchmark::DoNotOptimize(
        RebuildWithEntry(list, "ksthunk", "ksthunk", target, built));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(list.size()));
}

void Memcpy(benchmark::State& state) {
  const std::string list =
      ListOfAbout(static_cast<std::size_t>(state.range(0)));
  std::vector<char> target(list.size());
  for (auto _ : state) {
    std::memcpy(target.data(), list.data(), list.size());
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(list.size()));
}

void SingleEntryList(benchmark::State& state) {
  std::vector<char> target(9);
  for (auto _ : state) {
    benchmark::DoNotOptimize(WriteSingleEntryList("ksthunk", target));
    benchmark::ClobberMemory();
  }
}

// 1 is a list of one entry.
void Sizes(benchmark::internal::Benchmark* b) {
  for (const std::int64_t size :
       {1, 256, 4 << 10, 64 << 10, 256 << 10, 1 << 20}) {
    b->Arg(size);
  }
}

BENCHMARK(Walk)->Apply(Sizes);
BENCHMARK(Rebuild)->Apply(Sizes);
BENCHMARK(Memcpy)->Apply(Sizes);
BENCHMARK(RebuildAllKs)->Arg(64 << 10)->Arg(1 << 20);
BENCHMARK(SingleEntryList);

}  // namespace

BENCHMARK_MAIN();
