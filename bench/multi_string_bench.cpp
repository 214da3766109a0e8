// The rebuild of a 1 MiB list of every shape of shapes.h, and memcpy of the
// same number of bytes; bench/report.py puts each beside memcpy.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "multi_string.h"
#include "shapes.h"

namespace {

constexpr std::size_t kListSize = 1 << 20;

void Memcpy(benchmark::State& state) {
  const std::string list(kListSize, 'x');
  std::vector<char> target(kListSize);
  for (auto _ : state) {
    std::memcpy(target.data(), list.data(), list.size());
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
}

void Rebuild(benchmark::State& state, const Shape& shape) {
  const std::string list = shape.make(kListSize);
  std::vector<char> target(static_cast<std::size_t>(RebuiltListSize(list, 7)));
  for (auto _ : state) {
    std::size_t built = 0;
    benchmark::DoNotOptimize(
        RebuildWithEntry(list, "ksthunk", "ksthunk", target, built));
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RegisterBenchmark("Memcpy", Memcpy);
  for (const Shape& shape : Shapes()) {
    benchmark::RegisterBenchmark(shape.name, Rebuild, shape);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
