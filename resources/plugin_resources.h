// The two resources by which a host finds and scripts the filter: the
// plug-in property list (PiPL) and the scripting terminology ('aete'), both
// under ID 16000, in the byte layout Windows hosts read. Built from the same
// tables the code uses, so the menu, the enable rule and the scripting
// dictionary cannot drift from what the filter does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr int kPluginResourceId = 16000;

constexpr const char* kPluginName = "Kestrelle v1.0.7...";  // the menu title
constexpr const char* kPluginCategory = "Verdaline";         // the submenu
constexpr const char* kEnableExpression =
    "in (PSHOP_ImageMode, RGBMode,RGB48Mode) ||PSHOP_ImageDepth == 16 ||PSHOP_ImageDepth == 32";
constexpr const char* kEntryPointName = "PluginMain";

enum class Architecture { X86, X64 };

std::vector<uint8_t> BuildPiPL(Architecture architecture);
std::vector<uint8_t> BuildTerminology();

// The dialog template as resource-compiler source (a DIALOGEX statement).
std::string BuildDialogScript();
