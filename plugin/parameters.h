// The filter's settings: the record of one run (kept in the host's parameter
// handle), the one-byte dialog flag block in the host's data slot, and the
// module-wide view state of the preview.
#pragma once

#include <cstddef>

#include "hostapi/host_interface.h"
#include "hostapi/setting_table.h"

// Eleven doubles and one flag, addressed by index by the dialog, the settings
// files and Start's copy. Plain numbers only: the host hands the handle back
// between calls and runs, so nothing in it may need rebuilding.
struct FilterParameters {
  double redGain;
  double redGainFine;
  double greenGain;
  double greenGainFine;
  double blueGain;
  double blueGainFine;
  double highlightRecovery;  // percent
  double highlightRolloff;
  double reserved[3];        // kept, copied and saved; nothing reads them
  bool ignoreSelection;      // "filter entire image"; no dialog control sets it
  // The padding after the flag, put to use. Some hosts hand the plug-in a
  // parameters handle it did not make (GIMP's PSPI hands a new process a
  // byte copy taken before the last run's dialog), so the record says that
  // this filter wrote it, and from which run: the run counter decides
  // whether the handle or the last-used store holds the newer settings.
  uint8 unusedByte;
  char mark[2];              // kRecordMark when this filter wrote the record
  uint32 generation;         // runs finished when the record was written; 0 after a reset
};

constexpr int kParameterCount = 11;
constexpr int32 kParameterHandleSize = 96;
static_assert(sizeof(FilterParameters) == kParameterHandleSize,
              "the record fills the parameter handle exactly");
static_assert(offsetof(FilterParameters, ignoreSelection) == 88 &&
                  offsetof(FilterParameters, mark) == 90 && offsetof(FilterParameters, generation) == 92,
              "the layout of the parameter handle is fixed: hosts keep it between runs");
constexpr char kRecordMark[2] = {'K', 's'};
static_assert(sizeof(bool) == 1, "ignoreSelection is stored as one byte");

// The row order shared by every table indexed like the record.
enum ParameterIndex {
  kRedGain = 0,
  kRedGainFine,
  kGreenGain,
  kGreenGainFine,
  kBlueGain,
  kBlueGainFine,
  kHighlightRecovery,
  kHighlightRolloff,
  kReserved0,
  kReserved1,
  kReserved2,
};

static_assert(kReserved0 == kSettingCount, "the settings' rows are the record's first doubles");

// A double's default: its setting's, 0 for the reserved ones.
constexpr double DefaultParameterValue(int index) {
  return index < kSettingCount ? kSettings[index].defaultValue : 0.0;
}

double& ParameterAt(FilterParameters& record, int index);
double ParameterAt(const FilterParameters& record, int index);

// The plug-in's one-byte block in the host's per-plug-in data slot.
struct PluginData {
  uint8 showDialog;  // 1: the next Start may show the dialog
};
constexpr int32 kPluginDataHandleSize = 1;
static_assert(sizeof(PluginData) == kPluginDataHandleSize, "PluginData is one byte");

// The preview's view, once per loaded module. Carried through the scripting
// descriptors and the last-used store, never through settings files.
struct ProxyViewState {
  int32 zoomLevel = 1;  // 0 = fit, n >= 1 = host sampling 1:n, negative = no proxy
  int32 offsetH = 0;
  int32 offsetV = 0;
  int32 focalPointH = 0;
  int32 focalPointV = 0;
  int32 windowWidth = 1920;
  int32 windowHeight = 1080;
  int32 dialogWidth = 1920;
  int32 dialogHeight = 1080;
  int32 savedSize = 1;
  int32 savedMode = 0;
  uint8 savedFlag = 0;
};

extern ProxyViewState gProxyViewState;

// The eleven doubles to their defaults; ignoreSelection false. Leaves the
// view state and the data block alone.
void ResetParameters(FilterParameters& record);

// Bounds the settings' doubles in place to their ranges, field by field,
// before every render; the reserved doubles are left as they are. NaN
// becomes the lower bound; tiny values snap to 0. The clamped values stay in
// the record, so whatever is stored or recorded afterwards is the clamped set.
void ClampParameters(FilterParameters& record);

// Marks the record as this filter's, written at run `generation`.
void MarkRecord(FilterParameters& record, uint32 generation);

// True when the record's worth of bytes at `bytes` is a record this filter
// wrote: the mark, every value finite and the settings within their ranges,
// the flag 0 or 1. Read as bytes, so that no value is taken from memory that
// holds none.
bool IsOwnRecord(const void* bytes);
