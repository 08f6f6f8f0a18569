// The row kernels over a whole 6000 x 4000 buffer, in place: with every
// processor and with one, and per instruction set. No host, no tiles.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/bench_settings.h"
#include "platform/threads.h"
#include "plugin/parameters.h"
#include "render/parallel_step.h"
#include "render/row_kernels.h"
#include "render/transfer_tables.h"
#include "render/transform.h"

namespace {

constexpr int32 kWidth = 6000;
constexpr int32 kHeight = 4000;

struct Buffer {
  std::vector<uint8> bytes;
  int32 rowBytes;
};

// Uniform noise over the depth's whole range; `dark` keeps every sample in
// the lower half, where no pixel reaches the highlight blend.
Buffer Noise(int32 depth, int16 planes, bool dark) {
  Buffer b;
  b.rowBytes = kWidth * planes * (depth / 8);
  b.bytes.resize(size_t(b.rowBytes) * kHeight);
  uint32 x = 99;
  for (size_t i = 0; i < b.bytes.size(); i += depth / 8) {
    x = x * 1664525u + 1013904223u;
    if (depth == 8) b.bytes[i] = uint8(x >> (dark ? 25 : 24));
    if (depth == 16) {
      const uint16 v = uint16((x >> 16) % (dark ? 16385 : 32769));
      std::memcpy(&b.bytes[i], &v, 2);
    }
    if (depth == 32) {
      const float v = float(x >> 8) / float(1 << (dark ? 25 : 24));
      std::memcpy(&b.bytes[i], &v, 4);
    }
  }
  return b;
}

void Kernel(benchmark::State& state, int32 depth, int16 planes, int threads, KernelIsa isa, bool dark = false) {
  const TransformCoefficients k = BenchCoefficients();
  TransferTables tables;
  AllocateTransferTables(tables, nullptr);
  BuildSrgbToLinearTable(tables);
  BuildLinearToSrgbTable(tables);
  const KernelPlan plan = MakeKernelPlan(k, &tables);
  Buffer b = Noise(depth, planes, dark);
  platform::SetProcessorCountForTesting(threads);
  const KernelIsa previous = UseKernelIsa(isa);
  BandJob job;
  job.data = b.bytes.data();
  job.rowBytes = b.rowBytes;
  job.endColumn = kWidth;
  job.depth = depth;
  job.planeCount = planes;
  job.coefficients = &k;
  job.tables = &tables;
  job.plan = &plan;
  for (auto _ : state) {
    RunParallelStep(job, kHeight);
    benchmark::ClobberMemory();
  }
  UseKernelIsa(previous);
  platform::SetProcessorCountForTesting(0);
  ReleaseTransferTables(tables);
  state.SetItemsProcessed(state.iterations() * int64_t(kWidth) * kHeight);
  state.SetBytesProcessed(state.iterations() * int64_t(b.bytes.size()));
}

void BM_Kernel_RGB8(benchmark::State& s) { Kernel(s, 8, 3, int(s.range(0)), BestKernelIsa()); }
void BM_Kernel_RGB16(benchmark::State& s) { Kernel(s, 16, 3, int(s.range(0)), BestKernelIsa()); }
void BM_Kernel_RGB32(benchmark::State& s) { Kernel(s, 32, 3, int(s.range(0)), BestKernelIsa()); }
void BM_Kernel_Grey16(benchmark::State& s) { Kernel(s, 16, 1, int(s.range(0)), BestKernelIsa()); }
// 0: every processor.
BENCHMARK(BM_Kernel_RGB8)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Kernel_RGB16)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Kernel_RGB32)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Kernel_Grey16)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// Dark noise: every group takes the fast path, so the difference to the
// benchmarks above is what the highlight blend costs.
void BM_KernelDark_RGB8(benchmark::State& s) { Kernel(s, 8, 3, int(s.range(0)), BestKernelIsa(), true); }
void BM_KernelDark_RGB32(benchmark::State& s) { Kernel(s, 32, 3, int(s.range(0)), BestKernelIsa(), true); }
BENCHMARK(BM_KernelDark_RGB8)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KernelDark_RGB32)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// One thread per instruction set: what the vector code buys.
void BM_KernelIsa_RGB8(benchmark::State& s) { Kernel(s, 8, 3, 1, KernelIsa(s.range(0))); }
void BM_KernelIsa_RGB16(benchmark::State& s) { Kernel(s, 16, 3, 1, KernelIsa(s.range(0))); }
void BM_KernelIsa_RGB32(benchmark::State& s) { Kernel(s, 32, 3, 1, KernelIsa(s.range(0))); }
BENCHMARK(BM_KernelIsa_RGB8)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KernelIsa_RGB16)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KernelIsa_RGB32)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
