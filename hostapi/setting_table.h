// The filter's settings, one row each: what the filter's record, scripting
// keys and terminology, its dialog, and a host's options and UI scripts know
// of a setting. Here, on the floor both sides stand on, because the host
// does not link the filter yet names, checks and types the same settings: a
// setting described once cannot mean one thing to the filter and another to
// the command.
//
// The rows are in the order of the doubles of the filter's parameter record
// (a row's index is the double's index); the three reserved doubles that
// follow them are no settings and have no row.
#pragma once

#include "hostapi/host_interface.h"

struct SettingRow {
  const char* label;          // the dialog's label; UI scripts name the row by it
  DescriptorKeyID key;        // the scripting key recorded actions carry it under
  const char* option;         // kestrelle apply's option
  double low, high;           // the filter clamps to these; the command refuses beyond them
  double defaultValue;
  // The dialog's controls. The label is a control too: a double-click on it
  // resets the value.
  int labelId, trackbarId, editId;
  int16 sliderMinimum, sliderMaximum;  // 16-bit, as the trackbar takes its range
  double sliderScale;                  // trackbar position = value * scale
  // The name and description the scripting terminology gives the key;
  // nullptr: the label.
  const char* terminologyName;
  const char* terminologyDescription;
};

constexpr int kSettingCount = 8;

// The lowest gain, 1/255. The trackbars cover only part of each range:
// values beyond them come in typed, played, stored or loaded, and the
// range is what bounds them.
constexpr double kLowestGain = 0.00392156862745098;

// "Gcoe" and "Bcoe" are named in the terminology the other way round from
// the dialog ("Gcoe" carries Highlight Recovery but is named "Rolloff").
// Recorded actions depend on which value each key carries, and scripts on
// the names hosts show for them, so both stay as they are.
inline constexpr SettingRow kSettings[kSettingCount] = {
    {"R Gain", FourCharCode("brgH"), "--red-gain", kLowestGain, 1000.0, 1.0,  //
     20, 21, 22, 0, 250, 100.0, nullptr, nullptr},
    {"R Gain (fine)", FourCharCode("conT"), "--red-gain-fine", -100.0, 100.0, 0.0,  //
     30, 31, 32, -100, 100, 100.0, nullptr, nullptr},
    {"G Gain", FourCharCode("bAdj"), "--green-gain", kLowestGain, 1000.0, 1.0,  //
     40, 41, 42, 0, 250, 100.0, nullptr, nullptr},
    {"G Gain (fine)", FourCharCode("satU"), "--green-gain-fine", -100.0, 100.0, 0.0,  //
     50, 51, 52, -100, 100, 100.0, nullptr, nullptr},
    {"B Gain", FourCharCode("lumC"), "--blue-gain", kLowestGain, 1000.0, 1.0,  //
     60, 61, 62, 0, 250, 100.0, nullptr, nullptr},
    {"B Gain (fine)", FourCharCode("Rcoe"), "--blue-gain-fine", -100.0, 100.0, 0.0,  //
     70, 71, 72, -100, 100, 100.0, nullptr, nullptr},
    // Percent.
    {"Highlight Recovery", FourCharCode("Gcoe"), "--highlight-recovery", 0.0, 100.0, 100.0,  //
     80, 81, 82, 0, 100, 1.0, "Rolloff", "Highlight desaturation rolloff"},
    {"Highlight Rolloff", FourCharCode("Bcoe"), "--highlight-rolloff", 0.0, 10000.0, 100.0,  //
     90, 91, 92, 1, 200, 1.0, "Highlight Recovery", "Highlight Recovery"},
};
