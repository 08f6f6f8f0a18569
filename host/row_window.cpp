#include "host/row_window.h"

#include <algorithm>

namespace host {

RowWindow::RowWindow(RowStream stream, int32 bandRows, int32 anchor, int buffers)
    : stream_(std::move(stream)) {
  const int32 height = std::max<int32>(0, stream_.height);
  anchor = std::max<int32>(0, anchor);
  bandRows = std::max<int32>(1, std::min<int32>(bandRows, std::max<int32>(1, height)));
  // Band edges: every bandRows rows from the anchor, both ways.
  std::vector<int32> edges{0};
  for (int64 edge = anchor - int64(bandRows) * ((anchor + bandRows - 1) / bandRows); edge < height;
       edge += bandRows)
    if (edge > 0) edges.push_back(int32(edge));
  edges.push_back(height);
  for (size_t i = 0; i + 1 < edges.size(); ++i) {
    if (edges[i + 1] <= edges[i]) continue;
    Band b;
    b.top = edges[i];
    b.bottom = edges[i + 1];
    bands_.push_back(std::move(b));
  }
  bandBytes_ = size_t(bandRows) * (stream_.rowBytes + stream_.alphaRowBytes);
  maxBuffers_ = std::max(1, buffers);
  reader_ = std::thread([this] { ReadLoop(); });
  writer_ = std::thread([this] { WriteLoop(); });
}

RowWindow::~RowWindow() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (reader_.joinable()) reader_.join();
  if (writer_.joinable()) writer_.join();
}

int RowWindow::BandOf(int32 y) const {
  auto it = std::upper_bound(bands_.begin(), bands_.end(), y, [](int32 v, const Band& b) { return v < b.top; });
  return int(it - bands_.begin()) - 1;
}

void RowWindow::Fail(const std::string& why) {
  if (!failed_) error_ = why;
  failed_ = true;
}

BandMemory RowWindow::TakeBuffer() {
  if (!free_.empty()) {
    BandMemory b = std::move(free_.back());
    free_.pop_back();
    return b;
  }
  ++buffers_;
  peakBuffers_ = std::max(peakBuffers_, buffers_);
  return AllocateBandMemory(bandBytes_);
}

void RowWindow::ReadLoop() {
  for (Band& band : bands_) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return stopping_ || failed_ || !free_.empty() || buffers_ < maxBuffers_; });
    if (stopping_ || failed_) return;
    BandMemory buffer;
    try {
      buffer = TakeBuffer();
    } catch (const std::bad_alloc&) {
      Fail("not enough memory for a band of rows");
      changed_.notify_all();
      return;
    }
    band.state = Band::Reading;
    lock.unlock();
    const int32 rows = band.bottom - band.top;
    uint8* colour = buffer.get();
    uint8* alpha = stream_.alphaRowBytes ? colour + size_t(rows) * stream_.rowBytes : nullptr;
    std::string why;
    const bool ok = stream_.read(rows, colour, stream_.rowBytes, alpha, stream_.alphaRowBytes, &why);
    lock.lock();
    band.buffer = std::move(buffer);
    band.state = Band::Ready;
    if (!ok) Fail(why);
    lock.unlock();
    changed_.notify_all();
    if (!ok) return;
  }
}

void RowWindow::WriteLoop() {
  for (size_t i = 0; i < bands_.size(); ++i) {
    Band& band = bands_[i];
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] {
      return stopping_ || failed_ || (band.state == Band::Ready && int(i) < held_);
    });
    if (stopping_ || failed_) return;
    lock.unlock();
    const int32 rows = band.bottom - band.top;
    const uint8* colour = band.buffer.get();
    const uint8* alpha = stream_.alphaRowBytes ? colour + size_t(rows) * stream_.rowBytes : nullptr;
    std::string why;
    const bool ok = stream_.write(rows, colour, stream_.rowBytes, alpha, stream_.alphaRowBytes, &why);
    lock.lock();
    band.state = Band::Written;
    free_.push_back(std::move(band.buffer));
    if (!ok) Fail(why);
    lock.unlock();
    changed_.notify_all();
    if (!ok) return;
  }
}

bool RowWindow::Hold(int32 top, int32 bottom) {
  top = std::max<int32>(top, 0);
  bottom = std::min<int32>(bottom, stream_.height);
  std::unique_lock<std::mutex> lock(mutex_);
  if (failed_) return false;
  if (bottom <= top) return true;
  const int first = BandOf(top), last = BandOf(bottom - 1);
  if (first < held_) {
    Fail("rows " + std::to_string(top) + " to " + std::to_string(bottom - 1) +
         " were asked for after they had been written (this host streams rows top to bottom)");
    changed_.notify_all();
    return false;
  }
  // Every band above the request is done: it goes to the writer. The bands
  // of the request must fit in the buffers at once.
  held_ = first;
  maxBuffers_ = std::max(maxBuffers_, last - first + 2);
  changed_.notify_all();
  changed_.wait(lock, [&] { return failed_ || bands_[size_t(last)].state == Band::Ready; });
  return !failed_;
}

uint8* RowWindow::Row(int32 y) {
  const Band& b = bands_[size_t(BandOf(y))];
  return b.buffer.get() + size_t(y - b.top) * stream_.rowBytes;
}

bool RowWindow::Contiguous(int32 top, int32 bottom) const {
  return bottom > top && top >= 0 && bottom <= stream_.height && BandOf(top) == BandOf(bottom - 1);
}

bool RowWindow::Finish() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    held_ = int(bands_.size());
    changed_.notify_all();
    changed_.wait(lock, [&] { return failed_ || bands_.empty() || bands_.back().state == Band::Written; });
  }
  changed_.notify_all();
  if (reader_.joinable()) reader_.join();
  if (writer_.joinable()) writer_.join();
  return !failed_;
}

}  // namespace host
