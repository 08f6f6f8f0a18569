// libvips reading and writing the same files: a read decodes the whole
// picture into memory (sequential access, as vips uses for files it streams),
// a write saves an image held in memory, uncompressed TIFF and JPEG Q=92.
#include <benchmark/benchmark.h>
#include <vips/vips.h>

#include <cstdio>

#include "bench/io_files.h"

namespace {

bool StartVips(benchmark::State& state) {
  static const bool started = VIPS_INIT("kestrelle_bench") == 0;
  if (!started) state.SkipWithError("libvips did not start");
  return started;
}

void VipsRead(benchmark::State& state, const std::string& path) {
  if (!StartVips(state)) return;
  for (auto _ : state) {
    VipsImage* in = vips_image_new_from_file(path.c_str(), "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
    size_t size = 0;
    void* pixels = in ? vips_image_write_to_memory(in, &size) : nullptr;
    if (!pixels) {
      state.SkipWithError(vips_error_buffer());
      if (in) g_object_unref(in);
      return;
    }
    benchmark::DoNotOptimize(pixels);
    g_free(pixels);
    g_object_unref(in);
  }
  state.SetItemsProcessed(state.iterations() * int64_t(kIoWidth) * kIoHeight);
}

void VipsWrite(benchmark::State& state, bool jpeg) {
  if (!StartVips(state)) return;
  const host::Image& picture = IoPicture();
  const std::string path = IoScratchPath(jpeg ? "vips.jpg" : "vips.tif");
  for (auto _ : state) {
    VipsImage* in = vips_image_new_from_memory(picture.document.pixels.data(), picture.document.pixels.size(),
                                               kIoWidth, kIoHeight, 3, VIPS_FORMAT_UCHAR);
    const int failed = jpeg ? vips_jpegsave(in, path.c_str(), "Q", 92, nullptr)
                            : vips_tiffsave(in, path.c_str(), "compression", VIPS_FOREIGN_TIFF_COMPRESSION_NONE,
                                            nullptr);
    g_object_unref(in);
    if (failed) {
      state.SkipWithError(vips_error_buffer());
      return;
    }
  }
  std::remove(path.c_str());
  state.SetItemsProcessed(state.iterations() * int64_t(kIoWidth) * kIoHeight);
}

void BM_VipsReadTiff(benchmark::State& state) { VipsRead(state, IoTiffPath()); }
void BM_VipsWriteTiff(benchmark::State& state) { VipsWrite(state, false); }
void BM_VipsReadJpeg(benchmark::State& state) { VipsRead(state, IoJpegPath()); }
void BM_VipsWriteJpeg(benchmark::State& state) { VipsWrite(state, true); }

BENCHMARK(BM_VipsReadTiff)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_VipsWriteTiff)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_VipsReadJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_VipsWriteJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
