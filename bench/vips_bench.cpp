// What a user would otherwise reach for: libvips' vips_linear with a gain per
// band, on the same 6000 x 4000 8-bit RGB image in memory, written to memory.
#include <benchmark/benchmark.h>
#include <vips/vips.h>

#include <vector>

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

void BM_VipsLinear_RGB8(benchmark::State& state) {
  static const bool started = VIPS_INIT("kestrelle_bench") == 0;
  if (!started) {
    state.SkipWithError("libvips did not start");
    return;
  }
  std::vector<unsigned char> pixels(size_t(kWidth) * kHeight * 3);
  uint32_t x = 7;
  for (auto& p : pixels) {
    x = x * 1664525u + 1013904223u;
    p = static_cast<unsigned char>(x >> 24);
  }
  double gains[3] = {0.8, 1.0, 1.25};
  double offsets[3] = {0, 0, 0};
  for (auto _ : state) {
    VipsImage* in = vips_image_new_from_memory(pixels.data(), pixels.size(), kWidth, kHeight, 3,
                                               VIPS_FORMAT_UCHAR);
    VipsImage* out = nullptr;
    if (vips_linear(in, &out, gains, offsets, 3, "uchar", TRUE, nullptr) != 0) {
      state.SkipWithError(vips_error_buffer());
      g_object_unref(in);
      return;
    }
    size_t size = 0;
    void* result = vips_image_write_to_memory(out, &size);
    benchmark::DoNotOptimize(result);
    g_free(result);
    g_object_unref(out);
    g_object_unref(in);
  }
  state.SetItemsProcessed(state.iterations() * int64_t(kWidth) * kHeight);
}
BENCHMARK(BM_VipsLinear_RGB8)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
