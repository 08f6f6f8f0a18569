// Per-pixel cost of the scalar kernels, one thread, no host in the way.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/bench_settings.h"
#include "plugin/parameters.h"
#include "render/transfer_tables.h"
#include "render/transform.h"

namespace {

void BM_TransformPixel8(benchmark::State& state) {
  const TransformCoefficients k = BenchCoefficients();
  std::vector<uint8> pixels(3 * 1 << 20);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8(i * 7);
  for (auto _ : state) {
    for (size_t i = 0; i < pixels.size(); i += 3) TransformPixel8(k, &pixels[i], &pixels[i + 1], &pixels[i + 2]);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * int64_t(pixels.size() / 3));
}
BENCHMARK(BM_TransformPixel8);

void BM_TransformPixel16(benchmark::State& state) {
  const TransformCoefficients k = BenchCoefficients();
  std::vector<uint16> pixels(3 * 1 << 20);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint16((i * 7919) % 32769);
  for (auto _ : state) {
    for (size_t i = 0; i < pixels.size(); i += 3) TransformPixel16(k, &pixels[i], &pixels[i + 1], &pixels[i + 2]);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * int64_t(pixels.size() / 3));
}
BENCHMARK(BM_TransformPixel16);

void BM_TransformPixelFloat(benchmark::State& state) {
  const TransformCoefficients k = BenchCoefficients();
  TransferTables tables;
  AllocateTransferTables(tables, nullptr);
  BuildSrgbToLinearTable(tables);
  BuildLinearToSrgbTable(tables);
  std::vector<float> pixels(3 * 1 << 20);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = float(i % 1000) / 1000.0f;
  for (auto _ : state) {
    for (size_t i = 0; i < pixels.size(); i += 3)
      TransformPixelFloat(k, tables, &pixels[i], &pixels[i + 1], &pixels[i + 2]);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * int64_t(pixels.size() / 3));
  ReleaseTransferTables(tables);
}
BENCHMARK(BM_TransformPixelFloat);

}  // namespace
