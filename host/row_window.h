// The rows of a document a streaming host holds: not the whole image, only
// the bands of rows around the filter's current request. A reader thread
// fills the bands ahead of the filter, straight from the file; a writer
// thread writes each band to the output once the filter has moved below it;
// the filter works in the bands in place. Memory stays at a few bands,
// whatever the size of the image.
//
// The filter must walk the rows top to bottom (ours does: tile rows in
// order, tiles left to right within them); a request above the rows already
// written is refused. A request may span several bands: they are then held
// together (more memory, the same pixels).
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/band_memory.h"
#include "hostapi/host_interface.h"

namespace host {

struct RowStream {
  int32 width = 0;
  int32 height = 0;
  size_t rowBytes = 0;       // colour samples of one row, interleaved
  size_t alphaRowBytes = 0;  // 0: no alpha
  // Reads the next `rows` rows; false with the reason.
  std::function<bool(int32 rows, uint8* colour, size_t colourStride, uint8* alpha, size_t alphaStride,
                     std::string* error)>
      read;
  // Writes the next `rows` rows; false with the reason.
  std::function<bool(int32 rows, const uint8* colour, size_t colourStride, const uint8* alpha,
                     size_t alphaStride, std::string* error)>
      write;
};

class RowWindow {
 public:
  // Bands of `bandRows` rows, one of them starting at row `anchor` (the
  // filter rectangle's top, so that its tiles fall inside bands), and at
  // least `buffers` band buffers (three let reading, filtering and writing
  // overlap).
  RowWindow(RowStream stream, int32 bandRows, int32 anchor, int buffers);
  ~RowWindow();  // stops the threads; what was not finished is dropped
  RowWindow(const RowWindow&) = delete;
  RowWindow& operator=(const RowWindow&) = delete;

  // Makes rows [top, bottom) available, after handing every band above
  // `top` to the writer. False (with error()) when the rows cannot be had:
  // already written, or the reader failed.
  bool Hold(int32 top, int32 bottom);
  // A held row's colour samples.
  uint8* Row(int32 y);
  // Whether rows [top, bottom) lie in one band, one after the other at
  // rowBytes apart (so a buffer can be handed out in place).
  bool Contiguous(int32 top, int32 bottom) const;

  // Reads and writes every row not yet done, waits for the writer; false
  // with error() when any of it failed.
  bool Finish();
  const std::string& error() const { return error_; }

  // Most band buffers that existed at once (for tests of memory use).
  int PeakBuffers() const { return peakBuffers_; }

 private:
  struct Band {
    int32 top = 0, bottom = 0;
    enum State { Waiting, Reading, Ready, Released, Written } state = Waiting;
    BandMemory buffer;  // colour rows, then alpha rows
  };
  int BandOf(int32 y) const;
  void ReadLoop();
  void WriteLoop();
  BandMemory TakeBuffer();  // with the lock held
  void Fail(const std::string& why);

  RowStream stream_;
  size_t bandBytes_ = 0;
  std::vector<Band> bands_;
  int held_ = 0;  // the first band the filter may still ask for

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<BandMemory> free_;
  int buffers_ = 0, maxBuffers_ = 0, peakBuffers_ = 0;
  bool failed_ = false, stopping_ = false;
  std::string error_;
  std::thread reader_, writer_;
};

}  // namespace host
