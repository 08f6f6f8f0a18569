// The renderer end to end through the bundled host, against the memory
// bandwidth of a plain copy of the same bytes. The host hands the document's
// own memory to the filter (as hosts that filter in place do), so what is
// measured is the filter, not the host's copying.
#include <benchmark/benchmark.h>

#include <cstring>
#include <algorithm>
#include <thread>
#include <vector>

#include "host/host.h"
#include "plugin/parameters.h"
#include "render/render_final.h"
#include "render/render_preview.h"
#include "render/transfer_tables.h"
#include "render/transform.h"

namespace {

constexpr int32 kWidth = 6000;
constexpr int32 kHeight = 4000;

FilterParameters WarmCast() {
  FilterParameters p{};
  ResetParameters(p);
  p.redGain = 0.8;
  p.blueGain = 1.25;
  return p;
}

host::Document BigDocument(int16 planes, int32 depth) {
  host::Document d = host::MakeDocument(kWidth, kHeight, planes, depth);
  uint32 x = 12345;
  for (size_t i = 0; i < d.pixels.size(); i += d.SampleBytes()) {
    x = x * 1664525u + 1013904223u;
    if (depth == 8) d.pixels[i] = uint8(x >> 24);
    if (depth == 16) {
      uint16 v = uint16((x >> 16) % 32769);
      std::memcpy(&d.pixels[i], &v, 2);
    }
    if (depth == 32) {
      float v = float(x >> 8) / float(1 << 24);
      std::memcpy(&d.pixels[i], &v, 4);
    }
  }
  return d;
}

// `tile` 32767: one tile for the whole document, so what is left is the
// kernels and memory, without per-tile costs.
void RenderDocument(benchmark::State& state, int16 planes, int32 depth, int16 tile = 256) {
  host::HostOptions options;
  options.output = host::OutputBuffer::SharedWithInput;
  options.tileWidth = options.tileHeight = tile;
  host::Host h(BigDocument(planes, depth), options);
  h.record().bigDocumentData->PluginUsing32BitCoordinates = 1;
  AllocateTransferTables(gTransferTables, &h.record());
  BuildSrgbToLinearTable(gTransferTables);
  BuildLinearToSrgbTable(gTransferTables);
  for (auto _ : state) {
    // Filtering with the identity keeps the pixels the same from one
    // iteration to the next without a re-copy; the kernel work is the same.
    FilterParameters p = WarmCast();
    int16 result = 0;
    RenderFinal(h.record(), p, result);
    if (result != 0) state.SkipWithError("render failed");
  }
  ReleaseTransferTables(gTransferTables);
  state.SetItemsProcessed(state.iterations() * int64_t(kWidth) * kHeight);
  state.SetBytesProcessed(state.iterations() * int64_t(h.document().pixels.size()));
}

void BM_RenderFinal_RGB8(benchmark::State& s) { RenderDocument(s, 3, 8); }
void BM_RenderFinal_RGB16(benchmark::State& s) { RenderDocument(s, 3, 16); }
void BM_RenderFinal_RGB32(benchmark::State& s) { RenderDocument(s, 3, 32); }
void BM_RenderFinal_Grey16(benchmark::State& s) { RenderDocument(s, 1, 16); }

// The same bytes copied once: each byte read and written once, like an
// in-place filter at memory speed.
// memcpy of the same bytes, by one thread (1) or split over every processor
// (0), like the kernel benchmarks.
void CopyBaseline(benchmark::State& state, int16 planes, int32 depth) {
  const size_t bytes = size_t(kWidth) * kHeight * planes * (depth / 8);
  std::vector<uint8> from(bytes, 1), to(bytes, 2);
  const unsigned threads = state.range(0) == 1 ? 1u : std::max(1u, std::thread::hardware_concurrency());
  for (auto _ : state) {
    std::vector<std::thread> crew;
    for (unsigned t = 0; t < threads; ++t) {
      const size_t begin = bytes / threads * t, end = t + 1 == threads ? bytes : bytes / threads * (t + 1);
      crew.emplace_back([&, begin, end] { std::memcpy(to.data() + begin, from.data() + begin, end - begin); });
    }
    for (std::thread& t : crew) t.join();
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * int64_t(kWidth) * kHeight);
  state.SetBytesProcessed(state.iterations() * int64_t(bytes));
}

void BM_Copy_RGB8(benchmark::State& s) { CopyBaseline(s, 3, 8); }
void BM_Copy_RGB16(benchmark::State& s) { CopyBaseline(s, 3, 16); }
void BM_Copy_RGB32(benchmark::State& s) { CopyBaseline(s, 3, 32); }
void BM_Copy_Grey16(benchmark::State& s) { CopyBaseline(s, 1, 16); }

BENCHMARK(BM_Copy_RGB8)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RenderFinal_RGB8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Copy_RGB16)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RenderFinal_RGB16)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Copy_RGB32)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RenderFinal_RGB32)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Copy_Grey16)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RenderFinal_Grey16)->Unit(benchmark::kMillisecond)->UseRealTime();

// One slider step: the whole 1000 x 800 proxy.
void BM_RenderPreview(benchmark::State& state) {
  const int32 w = 1000, h = 800;
  std::vector<uint8> source(size_t(w) * h * 3), work(source.size());
  for (size_t i = 0; i < source.size(); ++i) source[i] = uint8(i * 31);
  for (auto _ : state) {
    FilterParameters p = WarmCast();
    RenderPreview(p, plugInModeRGBColor, source.data(), work.data(), w, h);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * int64_t(w) * h);
}
BENCHMARK(BM_RenderPreview)->Unit(benchmark::kMicrosecond)->UseRealTime();

// One pan step of 40 pixels: only the uncovered strip is filtered.
void BM_RenderExposedPreview(benchmark::State& state) {
  const int32 w = 1000, h = 800, dx = 40;
  std::vector<uint8> source(size_t(w) * h * 3), work(source.size());
  for (size_t i = 0; i < source.size(); ++i) source[i] = uint8(i * 31);
  FilterParameters p = WarmCast();
  PrepareTransform(p, gTransformCoefficients);
  for (auto _ : state) {
    RenderExposedPreview(plugInModeRGBColor, source.data(), work.data(), dx, 0, w, h);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * int64_t(dx) * h);
}
BENCHMARK(BM_RenderExposedPreview)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_RenderOneTile_RGB8(benchmark::State& s) { RenderDocument(s, 3, 8, 32767); }
void BM_RenderOneTile_RGB16(benchmark::State& s) { RenderDocument(s, 3, 16, 32767); }
void BM_RenderOneTile_RGB32(benchmark::State& s) { RenderDocument(s, 3, 32, 32767); }
BENCHMARK(BM_RenderOneTile_RGB8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RenderOneTile_RGB16)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RenderOneTile_RGB32)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
