// Reading and writing the 6000 x 4000 picture: whole images (ReadImage,
// WriteImageToFile) and streams of 64-row bands into one band buffer, the
// way a streaming host uses them. Files are in the page cache after the
// first iteration; writes go to a file that is truncated each time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench/io_files.h"

namespace {

void ReadWhole(benchmark::State& state, const std::string& path) {
  for (auto _ : state) {
    host::Image image;
    std::string error;
    if (!host::ReadImage(path, image, &error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    benchmark::DoNotOptimize(image.document.pixels.data());
  }
  state.SetItemsProcessed(state.iterations() * int64_t(kIoWidth) * kIoHeight);
}

void ReadBands(benchmark::State& state, const std::string& path) {
  std::vector<uint8> band(size_t(kIoWidth) * 3 * 64);
  for (auto _ : state) {
    host::ImageReader reader;
    std::string error;
    bool ok = reader.Open(path, &error);
    for (int32 y = 0; ok && y < kIoHeight; y += 64) {
      ok = reader.ReadRows(std::min(64, kIoHeight - y), band.data(), size_t(kIoWidth) * 3, nullptr, 0, &error);
    }
    if (!ok) {
      state.SkipWithError(error.c_str());
      return;
    }
    benchmark::DoNotOptimize(band.data());
  }
  state.SetItemsProcessed(state.iterations() * int64_t(kIoWidth) * kIoHeight);
}

void Write(benchmark::State& state, host::ImageFormat format, const char* extension) {
  host::Image image = IoPicture();
  image.format = format == host::ImageFormat::Tiff ? host::ImageFormat::Tiff : host::ImageFormat::Png;
  image.tiff.compression = 1;  // uncompressed, as the file read
  const std::string path = IoScratchPath(extension);
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "w+b");
    std::string error;
    const bool ok = f && host::WriteImageToFile(f, format, image, &error) && std::fflush(f) == 0;
    if (f) std::fclose(f);
    if (!ok) {
      state.SkipWithError(error.c_str());
      return;
    }
  }
  std::remove(path.c_str());
  state.SetItemsProcessed(state.iterations() * int64_t(kIoWidth) * kIoHeight);
}

void BM_ReadTiff(benchmark::State& state) { ReadWhole(state, IoTiffPath()); }
void BM_ReadTiffBands(benchmark::State& state) { ReadBands(state, IoTiffPath()); }
void BM_WriteTiff(benchmark::State& state) { Write(state, host::ImageFormat::Tiff, "tif"); }
void BM_ReadJpeg(benchmark::State& state) { ReadWhole(state, IoJpegPath()); }
void BM_ReadJpegBands(benchmark::State& state) { ReadBands(state, IoJpegPath()); }
void BM_WriteJpeg(benchmark::State& state) { Write(state, host::ImageFormat::Jpeg, "jpg"); }

BENCHMARK(BM_ReadTiff)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadTiffBands)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WriteTiff)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadJpegBands)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WriteJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
