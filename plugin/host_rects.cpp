#include "plugin/host_rects.h"

namespace {

VRect Widen(const Rect& r) { return VRect{r.top, r.left, r.bottom, r.right}; }

int16 Narrow(int32 v) { return int16(v < -32768 ? -32768 : v > 32767 ? 32767 : v); }

Rect Narrow(const VRect& r) {
  return Rect{Narrow(r.top), Narrow(r.left), Narrow(r.bottom), Narrow(r.right)};
}

}  // namespace

VRect FilterRect(const FilterRecord& record) {
  return Using32BitCoordinates(&record) ? record.bigDocumentData->filterRect32
                                        : Widen(record.filterRect);
}

VRect InRect(const FilterRecord& record) {
  return Using32BitCoordinates(&record) ? record.bigDocumentData->inRect32 : Widen(record.inRect);
}

VRect OutRect(const FilterRecord& record) {
  return Using32BitCoordinates(&record) ? record.bigDocumentData->outRect32
                                        : Widen(record.outRect);
}

void SetInRect(FilterRecord& record, const VRect& r) {
  if (Using32BitCoordinates(&record)) {
    record.bigDocumentData->inRect32 = r;
  } else {
    record.inRect = Narrow(r);
  }
}

void SetOutRect(FilterRecord& record, const VRect& r) {
  if (Using32BitCoordinates(&record)) {
    record.bigDocumentData->outRect32 = r;
  } else {
    record.outRect = Narrow(r);
  }
}

void SetMaskRect(FilterRecord& record, const VRect& r) {
  if (Using32BitCoordinates(&record)) {
    record.bigDocumentData->maskRect32 = r;
  } else {
    record.maskRect = Narrow(r);
  }
}
