// The presence test and the rebuild on every shape of shapes.h, and memcpy
// of the same number of bytes, at 64 KiB and 1 MiB; the walk of the typical
// list; the single-entry list. bench/report.py puts each beside memcpy.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "multi_string.h"
#include "shapes.h"

namespace {

constexpr std::int64_t kSizes[] = {64 << 10, 1 << 20};

void CountBytes(benchmark::State& state, std::size_t bytes) {
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(bytes));
}

void Memcpy(benchmark::State& state, std::size_t size) {
  const std::string list(size, 'x');
  std::vector<char> target(size);
  for (auto _ : state) {
    std::memcpy(target.data(), list.data(), list.size());
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  CountBytes(state, size);
}

void Contains(benchmark::State& state, const Shape& shape, std::size_t size) {
  const std::string list = shape.make(size);
  for (auto _ : state) {
    benchmark::DoNotOptimize(ContainsEntry(list, "ksthunk"));
  }
  CountBytes(state, list.size());
}

void Rebuild(benchmark::State& state, const Shape& shape, std::size_t size) {
  const std::string list = shape.make(size);
  std::vector<char> target(static_cast<std::size_t>(RebuiltListSize(list, 7)));
  for (auto _ : state) {
    std::size_t built = 0;
    benchmark::DoNotOptimize(
        RebuildWithEntry(list, "ksthunk", "ksthunk", target, built));
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  CountBytes(state, list.size());
}

void Walk(benchmark::State& state, std::size_t size) {
  const std::string list = shapes::Typical(size);
  for (auto _ : state) {
    std::size_t offset = 0;
    std::string_view entry;
    std::size_t entries = 0;
    while (NextEntry(list, offset, entry)) {
      ++entries;
    }
    benchmark::DoNotOptimize(entries);
  }
  CountBytes(state, list.size());
}

void SingleEntryList(benchmark::State& state) {
  std::vector<char> target(9);
  for (auto _ : state) {
    benchmark::DoNotOptimize(WriteSingleEntryList("ksthunk", target));
    benchmark::ClobberMemory();
  }
}

// Names as "Contains/typical/65536". (Built with std::string's operator+,
// these names trip a false -Wrestrict in GCC 12 at -O3.)
std::string Name(const char* operation, const char* shape, std::int64_t size) {
  char name[96];
  std::snprintf(name, sizeof name, "%s/%s%s%lld", operation, shape,
                *shape != '\0' ? "/" : "", static_cast<long long>(size));
  return name;
}

void RegisterAll() {
  for (const std::int64_t size : kSizes) {
    const auto bytes = static_cast<std::size_t>(size);
    benchmark::RegisterBenchmark(Name("Memcpy", "", size).c_str(), Memcpy,
                                 bytes);
    benchmark::RegisterBenchmark(Name("Walk", "typical", size).c_str(), Walk,
                                 bytes);
    for (const Shape& shape : Shapes()) {
      benchmark::RegisterBenchmark(Name("Contains", shape.name, size).c_str(),
                                   Contains, shape, bytes);
      benchmark::RegisterBenchmark(Name("Rebuild", shape.name, size).c_str(),
                                   Rebuild, shape, bytes);
    }
  }
  benchmark::RegisterBenchmark("SingleEntryList", SingleEntryList);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RegisterAll();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
