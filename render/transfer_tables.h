// The two sRGB transfer tables that carry 32-bit linear images into and out
// of the transform's 0..255 working scale. They live in host buffers for the
// length of one PluginMain call and are rebuilt on every call.
#pragma once

#include "hostapi/host_interface.h"

constexpr int kSrgbToLinearEntries = 4097;  // sRGB i/16 on 0..255 (0..256)
constexpr int kLinearToSrgbEntries = 4098;  // linear i/4096 (0..1.000244)
constexpr int32 kSrgbToLinearBytes = 16388;
constexpr int32 kLinearToSrgbBytes = 16392;
constexpr float kSrgbToLinearScale = 16.0f;
constexpr float kLinearToSrgbScale = 4096.0f;

struct TransferTables {
  BufferID cspaceBufferID_LUT2 = nullptr;  // SrgbToLinearTable's host buffer
  float* srgbToLinear = nullptr;
  BufferID cspaceBufferID_LUT1 = nullptr;  // LinearToSrgbTable's host buffer
  float* linearToSrgb = nullptr;
  const BufferProcs* owner = nullptr;      // the procs that allocated the buffers
};

extern TransferTables gTransferTables;

// Allocates and locks both host buffers. A host without buffer procs, or one
// whose allocation fails, gets tables in the module's own memory instead, so
// 32-bit documents still render; only the IDs tell the two cases apart.
void AllocateTransferTables(TransferTables& tables, const FilterRecord* record);
void BuildSrgbToLinearTable(TransferTables& tables);
void BuildLinearToSrgbTable(TransferTables& tables);
// Unlocks and frees what AllocateTransferTables got from the host.
void ReleaseTransferTables(TransferTables& tables);

// The interpolated look-up; callers clamp x so that index + 1 stays in the
// table (0..1 for LinearToSrgb, 0..255 for SrgbToLinear).
inline float InterpolatedLookUp(const float* table, float x, float scale) {
  const float v = x * scale;
  const uint32 i = static_cast<uint32>(v);
  const float f = v - static_cast<float>(i);
  return (1.0f - f) * table[i] + f * table[i + 1];
}

inline float LookUpLinearToSrgb(const TransferTables& tables, float x) {
  return InterpolatedLookUp(tables.linearToSrgb, x, kLinearToSrgbScale);
}

inline float LookUpSrgbToLinear(const TransferTables& tables, float x) {
  return InterpolatedLookUp(tables.srgbToLinear, x, kSrgbToLinearScale);
}

// The single-precision power function the tables are built with. Computed
// through double precision so that every platform's library rounds it the
// same way (the single-precision libm functions differ by an ulp between
// glibc and the Windows runtime, which would make the modules disagree).
float PowSingle(float x, float y);
