#include "render/transfer_tables.h"

#include <cmath>

#include "platform/message_box.h"
#include "plugin/host_services.h"

TransferTables gTransferTables;

namespace {

// Stand-ins for hosts that cannot give us buffers; rebuilt on every call like
// the host's.
float ownSrgbToLinear[kSrgbToLinearEntries];
float ownLinearToSrgb[kLinearToSrgbEntries];

float* AllocateOne(const BufferProcs* procs, int32 bytes, BufferID& id) {
  id = nullptr;
  if (procs == nullptr) return nullptr;
  if (procs->allocateProc(bytes, &id) != noErr) id = nullptr;
  if (id == nullptr) return nullptr;
  float* table = reinterpret_cast<float*>(procs->lockProc(id, true));
  if (table == nullptr) {
    // A buffer that cannot be locked is of no use; give it back at once.
    procs->freeProc(id);
    id = nullptr;
  }
  return table;
}

void ReleaseOne(const BufferProcs* procs, BufferID& id, float*& table) {
  if (id != nullptr && procs != nullptr) {
    procs->unlockProc(id);
    procs->freeProc(id);
  }
  id = nullptr;
  table = nullptr;
}

}  // namespace

float PowSingle(float x, float y) {
  return static_cast<float>(std::pow(static_cast<double>(x), static_cast<double>(y)));
}

void AllocateTransferTables(TransferTables& tables, const FilterRecord* record) {
  if (tables.cspaceBufferID_LUT2 != nullptr) {
    platform::ShowMessageBox("(Verdaline)Internal error: cspaceBufferID_LUT2 already created.");
  }
  const BufferProcs* procs = UsableBufferProcs(record);
  tables.owner = procs;
  tables.srgbToLinear = AllocateOne(procs, kSrgbToLinearBytes, tables.cspaceBufferID_LUT2);
  tables.linearToSrgb = AllocateOne(procs, kLinearToSrgbBytes, tables.cspaceBufferID_LUT1);
  if (tables.srgbToLinear == nullptr) tables.srgbToLinear = ownSrgbToLinear;
  if (tables.linearToSrgb == nullptr) tables.linearToSrgb = ownLinearToSrgb;
}

void BuildSrgbToLinearTable(TransferTables& tables) {
  if (tables.srgbToLinear == nullptr) return;
  // The sRGB decoding curve written on the 0..255 scale; its linear segment
  // ends at 10.0164 (0.03928 on the unit scale).
  for (int i = 0; i < kSrgbToLinearEntries; ++i) {
    const float x = static_cast<float>(i * 0.0625);
    tables.srgbToLinear[i] =
        x > 10.0164f ? PowSingle(x * 0.0037171266f + 0.0521327f, 2.4f) : x * 3.03527e-4f;
  }
}

void BuildLinearToSrgbTable(TransferTables& tables) {
  if (tables.linearToSrgb == nullptr) return;
  // The sRGB encoding curve times 255.
  for (int i = 0; i < kLinearToSrgbEntries; ++i) {
    const float a = static_cast<float>(i * 0.000244140625);
    tables.linearToSrgb[i] =
        a > 0.0031308f ? 269.025f * PowSingle(a, 0.41666666f) - 14.025f : a * 3294.6f;
  }
}

void ReleaseTransferTables(TransferTables& tables) {
  // In the reverse order of their allocation, as some hosts need.
  ReleaseOne(tables.owner, tables.cspaceBufferID_LUT1, tables.linearToSrgb);
  ReleaseOne(tables.owner, tables.cspaceBufferID_LUT2, tables.srgbToLinear);
  tables.owner = nullptr;
}
