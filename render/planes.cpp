#include "render/planes.h"

namespace {

// Indexed by the host's mode number, 0..17.
constexpr int16 kPlanesForMode[] = {1, 1, 3, 3, 4, 3, 3, 0, 1, 3, 1, 3, 3, 4, 0, 1, 3, 1};

}  // namespace

int16 PlanesForMode(int16 imageMode) {
  if (imageMode < 0 || imageMode >= int16(sizeof kPlanesForMode / sizeof kPlanesForMode[0])) return 0;
  return kPlanesForMode[imageMode];
}

int16 ProcessedPlanesForMode(int16 imageMode) {
  switch (imageMode) {
    case plugInModeRGBColor:
    case plugInModeRGB48:
    case plugInModeRGB96:
      return 3;
    default:
      return PlanesForMode(imageMode) == 1 ? 1 : 0;
  }
}

int16 LayerPlanes(const FilterRecord& record, int16 colourPlanes) {
  // Colour, transparency and a few alpha channels; beyond that the count is
  // not a document's.
  constexpr int16 kMostPlanes = 16;
  if (record.planes > colourPlanes && record.planes <= kMostPlanes) return record.planes;
  return colourPlanes;
}
