#include "render/row_kernels.h"

#include <algorithm>
#include <atomic>

#include "render/transfer_tables.h"

namespace {

// The same single-precision steps as TransformCore, for one channel alone.
float Working8(const TransformCoefficients&, int32 v) { return float(v); }
float Working16(const TransformCoefficients&, int32 v) { return float(v) * 0.0077819824f; }

// True when channel c at value v alone makes the blend weight exactly 1:
// 255 minus the channel after its gain is at least the rolloff width.
template <typename Working>
bool Unblended(const TransformCoefficients& k, int c, int32 v, Working working) {
  const float multiplier = c == 0 ? k.redMultiplier : c == 1 ? k.greenMultiplier : k.blueMultiplier;
  const float gained = working(k, v) * multiplier;
  return 255.0f - gained >= k.rolloffWidth;
}

// The largest v in [0, top] with Unblended true (it is true up to some value
// and false beyond: the gain is monotonic), or -1.
template <typename Working>
int32 Limit(const TransformCoefficients& k, int c, int32 top, Working working) {
  if (!Unblended(k, c, 0, working)) return -1;
  if (Unblended(k, c, top, working)) return top;
  int32 low = 0, high = top;  // Unblended(low) && !Unblended(high)
  while (high - low > 1) {
    const int32 mid = low + (high - low) / 2;
    if (Unblended(k, c, mid, working)) {
      low = mid;
    } else {
      high = mid;
    }
  }
  return low;
}

void ReferenceRow8(const KernelPlan& p, uint8* s, int32 n) {
  for (int32 i = 0; i < n; ++i) TransformPixel8(p.k, s + 3 * int64(i), s + 3 * int64(i) + 1, s + 3 * int64(i) + 2);
}
void ReferenceRow16(const KernelPlan& p, uint16* s, int32 n) {
  for (int32 i = 0; i < n; ++i) TransformPixel16(p.k, s + 3 * int64(i), s + 3 * int64(i) + 1, s + 3 * int64(i) + 2);
}
void ReferenceRowFloat(const KernelPlan& p, float* s, int32 n) {
  for (int32 i = 0; i < n; ++i) TransformPixelFloat(p.k, *p.tables, s + 3 * int64(i), s + 3 * int64(i) + 1, s + 3 * int64(i) + 2);
}
void ReferenceGrey8(const KernelPlan& p, uint8* s, int32 n) {
  for (int32 i = 0; i < n; ++i) s[i] = TransformSingle8(p.k, s[i]);
}
void ReferenceGrey16(const KernelPlan& p, uint16* s, int32 n) {
  for (int32 i = 0; i < n; ++i) s[i] = TransformSingle16(p.k, s[i]);
}
void ReferenceGreyFloat(const KernelPlan& p, float* s, int32 n) {
  for (int32 i = 0; i < n; ++i) s[i] = TransformSingleFloat(p.k, *p.tables, s[i]);
}
void ReferencePlanar8(const KernelPlan& p, uint8* r, uint8* g, uint8* b, int32 n) {
  for (int32 i = 0; i < n; ++i) TransformPixel8(p.k, r + i, g + i, b + i);
}

bool Avx2Supported() {
#if (defined(__x86_64__) || defined(_M_X64)) && defined(__GNUC__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

const RowKernelTable& TableFor(KernelIsa isa) {
  switch (isa) {
    case KernelIsa::Avx2: return avx2::kTable;
    case KernelIsa::Sse2: return sse2::kTable;
    default: return reference::kTable;
  }
}

std::atomic<KernelIsa>& Chosen() {
  static std::atomic<KernelIsa> chosen{BestKernelIsa()};
  return chosen;
}

const RowKernelTable& Active() { return TableFor(Chosen().load(std::memory_order_relaxed)); }

}  // namespace

namespace reference {
const RowKernelTable kTable = {&ReferenceRow8,  &ReferenceRow16,  &ReferenceRowFloat, &ReferenceGrey8,
                               &ReferenceGrey16, &ReferenceGreyFloat, &ReferencePlanar8};
}

KernelPlan MakeKernelPlan(const TransformCoefficients& k, const TransferTables* tables) {
  KernelPlan p;
  p.k = k;
  p.tables = tables;
  const float width = k.rolloffWidth;
  p.allFast = !(width != 0.0f && width == width);
  // A finite positive width can give weight 1; any other leaves the blend on.
  p.allSlow = !p.allFast && !(width > 0.0f && width < 3.0e38f);
  const double most = 255.0 * std::max({double(k.redMultiplier), double(k.greenMultiplier),
                                        double(k.blueMultiplier)}) * double(k.outputScale);
  p.bytesStayInRange = k.redMultiplier >= 0.0f && k.greenMultiplier >= 0.0f && k.blueMultiplier >= 0.0f &&
                       k.outputScale >= 0.0f && most < 1.0e9;
  if (p.allFast || p.allSlow) return p;
  for (int c = 0; c < 3; ++c) {
    p.limit8[c] = Limit(k, c, 255, Working8);
    p.limit16[c] = Limit(k, c, 65535, Working16);
  }
  return p;
}

KernelIsa BestKernelIsa() {
  static const bool avx2 = Avx2Supported() && avx2::kTable.row8 != nullptr;
  return avx2 ? KernelIsa::Avx2 : KernelIsa::Sse2;
}

bool KernelIsaAvailable(KernelIsa isa) {
  if (isa == KernelIsa::Avx2) return BestKernelIsa() == KernelIsa::Avx2;
  return true;
}

KernelIsa UseKernelIsa(KernelIsa isa) {
  if (!KernelIsaAvailable(isa)) isa = BestKernelIsa();
  return Chosen().exchange(isa);
}

void TransformRow8(const KernelPlan& p, uint8* s, int32 n) { Active().row8(p, s, n); }
void TransformRow16(const KernelPlan& p, uint16* s, int32 n) { Active().row16(p, s, n); }
void TransformRowFloat(const KernelPlan& p, float* s, int32 n) { Active().rowFloat(p, s, n); }
void TransformGreyRow8(const KernelPlan& p, uint8* s, int32 n) { Active().grey8(p, s, n); }
void TransformGreyRow16(const KernelPlan& p, uint16* s, int32 n) { Active().grey16(p, s, n); }
void TransformGreyRowFloat(const KernelPlan& p, float* s, int32 n) { Active().greyFloat(p, s, n); }
void TransformPlanarRow8(const KernelPlan& p, uint8* r, uint8* g, uint8* b, int32 n) {
  Active().planar8(p, r, g, b, n);
}
