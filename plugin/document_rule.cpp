#include "plugin/document_rule.h"

#include "platform/message_box.h"
#include "plugin/host_services.h"

namespace {

// Indexed by the host's mode number.
const char* const kModeNames[] = {
    "bitmap",     "grayscale", "indexed colour", "RGB",         "CMYK",          "HSL",
    "HSB",        "multichannel", "duotone",     "Lab",         "grayscale",     "RGB",
    "Lab",        "CMYK",      "multichannel",   "duotone",     "RGB",           "grayscale",
};

}  // namespace

bool DocumentEnabled(const FilterRecord& record) {
  if (record.imageMode == plugInModeRGBColor || record.imageMode == plugInModeRGB48) return true;
  const int32 depth = SampleDepth(record);
  return depth == 16 || depth == 32;
}

std::string DocumentNotEnabledMessage(const FilterRecord& record) {
  const int16 mode = record.imageMode;
  const bool named = mode >= 0 && mode < int16(sizeof kModeNames / sizeof kModeNames[0]);
  const std::string what = std::to_string(SampleDepth(record)) + "-bit " +
                           (named ? kModeNames[mode] : "mode " + std::to_string(mode));
  return "Kestrelle works on 8-bit RGB images and on 16-bit and 32-bit images; this image is " + what +
         ". Convert it to RGB first. Nothing was changed.";
}

void ReportDocumentNotEnabled(const FilterRecord& record) {
  platform::ShowMessageBox(DocumentNotEnabledMessage(record));
}
