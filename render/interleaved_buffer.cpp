#include "render/interleaved_buffer.h"

#include "platform/message_box.h"
#include "plugin/error_text.h"
#include "plugin/host_services.h"

InterleavedBuffer MakeInterleavedBuffer(const FilterRecord* record, int32 width,
                                        int32 sourceRowBytes, int32 totalBytes,
                                        const uint8* source) {
  InterleavedBuffer buffer;
  buffer.width = width;
  buffer.rowBytes = 3 * width;
  // A zero or negative row length cannot describe a picture (and must not be
  // divided by).
  buffer.rows = sourceRowBytes > 0 && width > 0 && width <= sourceRowBytes
                    ? (totalBytes / sourceRowBytes) / 3
                    : 0;
  if (buffer.rows < 0) buffer.rows = 0;

  const BufferProcs* procs = UsableBufferProcs(record);
  const int64 bytes = int64(buffer.rows) * width * 3;
  if (procs != nullptr && bytes > 0 && bytes <= 0x7fffffff) {
    if (procs->allocateProc(int32(bytes), &buffer.id) != noErr) buffer.id = nullptr;
  }
  if (buffer.id == nullptr) {
    buffer.error = memFullErr;
    platform::ShowMessageBox(
        NumberMessage("Verdaline: Error making interleaved buffer. Code: ", memFullErr));
    return buffer;
  }
  buffer.pixels = reinterpret_cast<uint8*>(procs->lockProc(buffer.id, true));
  if (buffer.pixels == nullptr) {
    procs->freeProc(buffer.id);
    buffer.id = nullptr;
    buffer.error = memFullErr;
    platform::ShowMessageBox(
        NumberMessage("Verdaline: Error making interleaved buffer. Code: ", memFullErr));
    return buffer;
  }
  buffer.error = noErr;

  const int32 planeSize = totalBytes / 3;
  for (int32 y = 0; y < buffer.rows; ++y) {
    uint8* out = buffer.pixels + int64(y) * width * 3;
    const uint8* red = source + int64(y) * sourceRowBytes;
    for (int32 x = 0; x < width; ++x) {
      out[3 * x] = red[x];
      out[3 * x + 1] = red[x + planeSize];
      out[3 * x + 2] = red[x + 2 * int64(planeSize)];
    }
  }
  return buffer;
}

void FreeInterleavedBuffer(const FilterRecord* record, InterleavedBuffer& buffer) {
  const BufferProcs* procs = UsableBufferProcs(record);
  if (buffer.id != nullptr && procs != nullptr) {
    procs->unlockProc(buffer.id);
    procs->freeProc(buffer.id);
  }
  buffer.id = nullptr;
  buffer.pixels = nullptr;
}
