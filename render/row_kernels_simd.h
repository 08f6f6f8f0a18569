// The vector row kernels, written once with the compiler's vector types and
// compiled once per instruction set (row_kernels_sse2.cpp, _avx2.cpp), each
// inside its own namespace. Every vector operation is the same IEEE single-
// precision operation, in the same order, as the reference kernel performs
// per pixel; nothing is fused or reassociated (-ffp-contract=off), so the
// results are identical bit for bit.
//
// Rows go in groups of eight pixels. A mask first tells whether any pixel of
// the group is bright enough for the highlight blend to apply. If none is,
// every sample is transformed on its own (out = in x gain x scale), with no
// regrouping into pixels; otherwise the group is regrouped into planes of
// red, green and blue and goes through the whole transform.
//
// Include inside a namespace, after <algorithm>, <cstring>, <immintrin.h>,
// row_kernels.h and transfer_tables.h; KERNEL_LANES is 4 (SSE2) or 8 (AVX2).

namespace {

constexpr int kLanes = KERNEL_LANES;
typedef float VF __attribute__((vector_size(4 * KERNEL_LANES)));
typedef int32_t VI __attribute__((vector_size(4 * KERNEL_LANES)));

constexpr int kGroupPixels = 8;
constexpr int kGroupSamples = 3 * kGroupPixels;       // R, G, B of eight pixels
constexpr int kGroupVectors = kGroupSamples / kLanes;  // 3 or 6

inline VF Splat(float x) {
  VF v;
  for (int i = 0; i < kLanes; ++i) v[i] = x;
  return v;
}

#if KERNEL_LANES == 8
inline __m256 M(VF v) { return reinterpret_cast<__m256&>(v); }
inline VF V(__m256 v) { return reinterpret_cast<VF&>(v); }
inline uint32 Bits(VI mask) { return uint32(_mm256_movemask_ps(_mm256_castsi256_ps(reinterpret_cast<__m256i&>(mask)))); }
inline VF LoadBytes(const uint8* p) {
  return V(_mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)))));
}
inline VF LoadHalves(const uint16* p) {
  return V(_mm256_cvtepi32_ps(_mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)))));
}
// Truncated to integers in 0..255 / 0..32768 already.
inline void StoreByteLanes(uint8* p, VF x) {
  const __m256i i = _mm256_cvttps_epi32(M(x));
  const __m128i w = _mm_packs_epi32(_mm256_castsi256_si128(i), _mm256_extracti128_si256(i, 1));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(w, w));
}
inline void StoreHalfLanes(uint16* p, VF x) {
  const __m256i i = _mm256_cvttps_epi32(M(x));
  const __m128i w = _mm_packus_epi32(_mm256_castsi256_si128(i), _mm256_extracti128_si256(i, 1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), w);
}
#else
inline __m128 M(VF v) { return reinterpret_cast<__m128&>(v); }
inline VF V(__m128 v) { return reinterpret_cast<VF&>(v); }
inline uint32 Bits(VI mask) { return uint32(_mm_movemask_ps(_mm_castsi128_ps(reinterpret_cast<__m128i&>(mask)))); }
inline VF LoadBytes(const uint8* p) {
  int32 four;
  std::memcpy(&four, p, 4);
  const __m128i zero = _mm_setzero_si128();
  const __m128i w = _mm_unpacklo_epi8(_mm_cvtsi32_si128(four), zero);
  return V(_mm_cvtepi32_ps(_mm_unpacklo_epi16(w, zero)));
}
inline VF LoadHalves(const uint16* p) {
  const __m128i h = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
  return V(_mm_cvtepi32_ps(_mm_unpacklo_epi16(h, _mm_setzero_si128())));
}
inline void StoreByteLanes(uint8* p, VF x) {
  const __m128i i = _mm_cvttps_epi32(M(x));
  const __m128i w = _mm_packs_epi32(i, i);
  const int32 four = _mm_cvtsi128_si32(_mm_packus_epi16(w, w));
  std::memcpy(p, &four, 4);
}
inline void StoreHalfLanes(uint16* p, VF x) {
  // No unsigned 32-to-16 pack in SSE2: shift into the signed range, pack,
  // shift back.
  const __m128i bias = _mm_set1_epi32(32768);
  const __m128i i = _mm_sub_epi32(_mm_cvttps_epi32(M(x)), bias);
  const __m128i w = _mm_xor_si128(_mm_packs_epi32(i, i), _mm_set1_epi16(short(0x8000)));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p), w);
}
#endif

inline VF LoadFloats(const float* p) {
  VF v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline void StoreFloats(float* p, VF v) { std::memcpy(p, &v, sizeof v); }

// MAXPS and MINPS return their second operand when the first is NaN (and
// for two zeros), which is exactly the reference's "x > 0 ? x : 0" and
// "x < limit ? x : limit": one instruction instead of a compare and a blend.
#if KERNEL_LANES == 8
inline VF AtLeastZero(VF x) { return V(_mm256_max_ps(M(x), _mm256_setzero_ps())); }
inline VF AtMostValue(VF x, float limit) { return V(_mm256_min_ps(M(x), _mm256_set1_ps(limit))); }
#else
inline VF AtLeastZero(VF x) { return V(_mm_max_ps(M(x), _mm_setzero_ps())); }
inline VF AtMostValue(VF x, float limit) { return V(_mm_min_ps(M(x), _mm_set1_ps(limit))); }
#endif

// Clamp to [0, 255]: a value not above 0 (NaN too) becomes 0.
inline VF ClampWorking(VF x) { return AtMostValue(AtLeastZero(x), 255.0f); }

// The integer outputs: clamp, then (value + 0.5) truncated.
inline void StoreBytes(uint8* p, VF working) { StoreByteLanes(p, ClampWorking(working) + 0.5f); }
inline void StoreHalves(uint16* p, VF working) {
  StoreHalfLanes(p, ClampWorking(working) * 128.50197f + 0.5f);
}

// The interpolated table look-up.
// Each lane reads its two neighbouring entries with one 8-byte load; two
// lanes share a 128-bit register, and two shuffles part the lower entries
// from the upper ones. (Hardware gathers are microcoded, and slower than
// this, on many processors.)
inline __m128 TwoPairs(const float* table, int32 first, int32 second) {
  const __m128 q = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(table + first)));
  return _mm_loadh_pi(q, reinterpret_cast<const __m64*>(table + second));
}

inline VF LookUp(const float* table, VF x, float scale) {
  const VF v = x * scale;
  const VI i = __builtin_convertvector(v, VI);
  const VF f = v - __builtin_convertvector(i, VF);
  int32 at[kLanes];
  std::memcpy(at, &i, sizeof at);
#if KERNEL_LANES == 8
  const __m256 q0 = _mm256_insertf128_ps(_mm256_castps128_ps256(TwoPairs(table, at[0], at[1])),
                                         TwoPairs(table, at[4], at[5]), 1);
  const __m256 q1 = _mm256_insertf128_ps(_mm256_castps128_ps256(TwoPairs(table, at[2], at[3])),
                                         TwoPairs(table, at[6], at[7]), 1);
  const VF a = V(_mm256_shuffle_ps(q0, q1, _MM_SHUFFLE(2, 0, 2, 0)));
  const VF b = V(_mm256_shuffle_ps(q0, q1, _MM_SHUFFLE(3, 1, 3, 1)));
#else
  const __m128 q0 = TwoPairs(table, at[0], at[1]), q1 = TwoPairs(table, at[2], at[3]);
  const VF a = V(_mm_shuffle_ps(q0, q1, _MM_SHUFFLE(2, 0, 2, 0)));
  const VF b = V(_mm_shuffle_ps(q0, q1, _MM_SHUFFLE(3, 1, 3, 1)));
#endif
  return (1.0f - f) * a + f * b;
}

// Linear light to sRGB on 0..255, pinned as the reference pins it.
inline VF Encode(const TransferTables& t, VF x) {
  // (The reference keeps -0 where this gives +0; both look up entry 0 with
  // a zero weight on entry 1, so the result is the same.)
  x = AtMostValue(AtLeastZero(x), 1.0f);
  return AtMostValue(LookUp(t.linearToSrgb, x, kLinearToSrgbScale), 255.0f);
}

inline VF Decode(const TransferTables& t, VF working) {
  return LookUp(t.srgbToLinear, ClampWorking(working), kSrgbToLinearScale);
}

// TransformCore on vectors of red, green and blue: the same operations in
// the same order, lane by lane (the conditional moves compare exactly as the
// reference's ifs do, NaN included).
inline void Core(const TransformCoefficients& k, VF& r, VF& g, VF& b) {
  const VF red = r * k.redMultiplier;
  const VF green = g * k.greenMultiplier;
  const VF blue = b * k.blueMultiplier;
  const VF neutral = (blue + green + red - 255.0f) * 0.5f;
  VF t = Splat(1.0f);
  const float width = k.rolloffWidth;
  if (width != 0.0f && width == width) {
    VF smallest = red;
    smallest = green < smallest ? green : smallest;
    smallest = blue < smallest ? blue : smallest;
    VF d = 255.0f - smallest;
    d = d > width ? Splat(width) : d;
    d = d < 0.0f ? Splat(0.0f) : d;
    t = d / width;
  }
  const VF w = (1.0f - t) * neutral;
  r = (t * red + w) * k.outputScale;
  g = (t * green + w) * k.outputScale;
  b = (t * blue + w) * k.outputScale;
}

// Eight interleaved pixels as planes of red, green and blue, and back.
constexpr int kGroupPlaneVectors = kGroupPixels / kLanes;  // 1 or 2
struct GroupPlanes {
  VF r[kGroupPlaneVectors], g[kGroupPlaneVectors], b[kGroupPlaneVectors];
};

inline GroupPlanes Deinterleave(const VF* samples) {
  float s[kGroupSamples];
  std::memcpy(s, samples, sizeof s);
  GroupPlanes p;
  for (int q = 0; q < kGroupPlaneVectors; ++q)
    for (int l = 0; l < kLanes; ++l) {
      const int px = q * kLanes + l;
      p.r[q][l] = s[3 * px];
      p.g[q][l] = s[3 * px + 1];
      p.b[q][l] = s[3 * px + 2];
    }
  return p;
}

inline void Interleave(const GroupPlanes& p, VF* samples) {
  float s[kGroupSamples];
  for (int q = 0; q < kGroupPlaneVectors; ++q)
    for (int l = 0; l < kLanes; ++l) {
      const int px = q * kLanes + l;
      s[3 * px] = p.r[q][l];
      s[3 * px + 1] = p.g[q][l];
      s[3 * px + 2] = p.b[q][l];
    }
  std::memcpy(samples, s, sizeof s);
}

// The whole transform of a group, blend included (exact for every pixel;
// used when any of them is bright).
inline void BlendGroup(const TransformCoefficients& k, VF* working) {
  GroupPlanes p = Deinterleave(working);
  for (int q = 0; q < kGroupPlaneVectors; ++q) Core(k, p.r[q], p.g[q], p.b[q]);
  Interleave(p, working);
}

// Per vector of a group: each lane's channel multiplier and the limit above
// which that channel cannot make the blend weight 1.
struct GroupPattern {
  VF multiplier[kGroupVectors];
  VF limit[kGroupVectors];
  GroupPattern(const TransformCoefficients& k, const int32* limits) {
    const float channel[3] = {k.redMultiplier, k.greenMultiplier, k.blueMultiplier};
    for (int v = 0; v < kGroupVectors; ++v)
      for (int j = 0; j < kLanes; ++j) {
        const int c = (kLanes * v + j) % 3;
        multiplier[v][j] = channel[c];
        limit[v][j] = limits ? float(limits[c]) : 0.0f;
      }
  }
};

// Bit i set: pixel i of the group has all three samples set in `samples`
// (bit j per sample j).
inline uint32 WholePixels(uint32 samples) { return samples & (samples >> 1) & (samples >> 2) & 0x249249u; }

// --- 8-bit and 16-bit interleaved -----------------------------------------------
template <typename T, typename Load, typename Store, typename Reference>
void InterleavedInteger(const KernelPlan& p, T* s, int32 n, const int32* limits, float inScale, Load load,
                        Store store, Reference reference) {
  const GroupPattern pattern(p.k, limits);
  const float scale = p.k.outputScale;
  int32 i = 0;
  for (; i + kGroupPixels <= n; i += kGroupPixels) {
    T* group = s + 3 * int64(i);
    VF in[kGroupVectors];
    uint32 above = 0;
    for (int v = 0; v < kGroupVectors; ++v) {
      in[v] = load(group + kLanes * v);
      above |= Bits(in[v] > pattern.limit[v]) << (kLanes * v);
    }
    if (p.allFast || WholePixels(above) == 0) {
      for (int v = 0; v < kGroupVectors; ++v)
        store(group + kLanes * v, (in[v] * inScale * pattern.multiplier[v]) * scale);
    } else {
      VF working[kGroupVectors];
      for (int v = 0; v < kGroupVectors; ++v) working[v] = in[v] * inScale;
      BlendGroup(p.k, working);
      for (int v = 0; v < kGroupVectors; ++v) store(group + kLanes * v, working[v]);
    }
  }
  for (T* px = s + 3 * int64(i); i < n; ++i, px += 3) reference(p.k, px, px + 1, px + 2);
}

// --- 8-bit interleaved in blocks ------------------------------------------------
// Three bytes a pixel make narrowing the bottleneck: a block of three chunks
// (each four vectors of samples, narrowed to bytes together) holds
// kBlockPixels whole pixels. Whether any pixel of the block reaches the blend
// is read from the bytes themselves; a block where one does takes the groups
// of eight above.
constexpr int kChunkSamples = 4 * kLanes;
constexpr int kBlockPixels = kChunkSamples;
#if KERNEL_LANES == 8
typedef __m256i VB;
typedef unsigned __int128 BlockMask;
inline VB LoadVB(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
// Bit j set: byte j is at most its limit (that channel keeps the weight 1).
inline uint32 AtMost(VB v, VB limit) {
  return uint32(_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_subs_epu8(v, limit), _mm256_setzero_si256())));
}
// Four vectors of working values to bytes, each exactly as StoreBytes does.
// Without `clamp` the caller guarantees 0 <= x < 2^30: the saturating packs
// then cap at 255 exactly as clamping first would.
template <bool clamp>
inline void StoreChunkBytes(uint8* p, const VF* x) {
  __m256i t[4];
#pragma GCC unroll 4
  for (int q = 0; q < 4; ++q) t[q] = _mm256_cvttps_epi32(M((clamp ? ClampWorking(x[q]) : x[q]) + 0.5f));
  const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(t[0], t[1]), _mm256_packs_epi32(t[2], t[3]));
  // The packs work within 128-bit halves: put the 4-byte runs back in order.
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p),
                      _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7)));
}
#else
typedef __m128i VB;
typedef uint64 BlockMask;
inline VB LoadVB(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
inline uint32 AtMost(VB v, VB limit) {
  return uint32(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_subs_epu8(v, limit), _mm_setzero_si128())));
}
template <bool clamp>
inline void StoreChunkBytes(uint8* p, const VF* x) {
  __m128i t[4];
#pragma GCC unroll 4
  for (int q = 0; q < 4; ++q) t[q] = _mm_cvttps_epi32(M((clamp ? ClampWorking(x[q]) : x[q]) + 0.5f));
  const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(t[0], t[1]), _mm_packs_epi32(t[2], t[3]));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), bytes);
}
#endif
constexpr uint32 kChunkBits = kChunkSamples == 32 ? 0xFFFFFFFFu : 0xFFFFu;

template <bool clamp>
void Row8Blocks(const KernelPlan& p, uint8* s, int32 n);

void Row8(const KernelPlan& p, uint8* s, int32 n) {
  if (p.allSlow) return reference::kTable.row8(p, s, n);
  if (p.bytesStayInRange) return Row8Blocks<false>(p, s, n);
  Row8Blocks<true>(p, s, n);
}

template <bool clamp>
void Row8Blocks(const KernelPlan& p, uint8* s, int32 n) {
  // 1.0f: bytes are on the working scale already (and x * 1.0f is exact).
  // A channel that never keeps the weight 1 (limit -1) has no byte limit.
  const bool blocks = p.allFast || (p.limit8[0] >= 0 && p.limit8[1] >= 0 && p.limit8[2] >= 0);
  if (!blocks) return InterleavedInteger(p, s, n, p.limit8, 1.0f, LoadBytes, StoreBytes, TransformPixel8);

  const float channel[3] = {p.k.redMultiplier, p.k.greenMultiplier, p.k.blueMultiplier};
  const float scale = p.k.outputScale;
  VF multiplier[3][4];
  VB limit[3];
  for (int r = 0; r < 3; ++r) {
    uint8 bytes[kChunkSamples];
    for (int j = 0; j < kChunkSamples; ++j) {
      const int c = (r * kChunkSamples + j) % 3;
      multiplier[r][j / kLanes][j % kLanes] = channel[c];
      bytes[j] = uint8(p.allFast ? 255 : p.limit8[c]);
    }
    limit[r] = LoadVB(bytes);
  }
  BlockMask firstBytes = 0;  // the first byte of every pixel
  for (int px = 0; px < kBlockPixels; ++px) firstBytes |= BlockMask(1) << (3 * px);

  int32 i = 0;
  for (; i + kBlockPixels <= n; i += kBlockPixels) {
    uint8* block = s + 3 * int64(i);
    if (!p.allFast) {
      BlockMask above = 0;
#pragma GCC unroll 3
      for (int r = 0; r < 3; ++r)
        above |= BlockMask(~AtMost(LoadVB(block + r * kChunkSamples), limit[r]) & kChunkBits) << (r * kChunkSamples);
      if ((above & (above >> 1) & (above >> 2) & firstBytes) != 0) {
        InterleavedInteger(p, block, kBlockPixels, p.limit8, 1.0f, LoadBytes, StoreBytes, TransformPixel8);
        continue;
      }
    }
#pragma GCC unroll 3
    for (int r = 0; r < 3; ++r) {
      uint8* chunk = block + r * kChunkSamples;
      VF x[4];
#pragma GCC unroll 4
      for (int q = 0; q < 4; ++q) x[q] = (LoadBytes(chunk + q * kLanes) * 1.0f * multiplier[r][q]) * scale;
      StoreChunkBytes<clamp>(chunk, x);
    }
  }
  InterleavedInteger(p, s + 3 * int64(i), n - i, p.limit8, 1.0f, LoadBytes, StoreBytes, TransformPixel8);
}

void Row16(const KernelPlan& p, uint16* s, int32 n) {
  if (p.allSlow) return reference::kTable.row16(p, s, n);
  InterleavedInteger(p, s, n, p.limit16, 0.0077819824f, LoadHalves, StoreHalves, TransformPixel16);
}

// --- 32-bit interleaved -----------------------------------------------------------
void RowFloat(const KernelPlan& p, float* s, int32 n) {
  if (p.allSlow) return reference::kTable.rowFloat(p, s, n);
  const TransferTables& t = *p.tables;
  const TransformCoefficients& k = p.k;
  const GroupPattern pattern(k, nullptr);
  const float scale = k.outputScale, width = k.rolloffWidth;
  int32 i = 0;
  for (; i + kGroupPixels <= n; i += kGroupPixels) {
    float* group = s + 3 * int64(i);
    VF encoded[kGroupVectors], gained[kGroupVectors];
    uint32 blends = 0;
    for (int v = 0; v < kGroupVectors; ++v) {
      encoded[v] = Encode(t, LoadFloats(group + kLanes * v));
      gained[v] = encoded[v] * pattern.multiplier[v];
      // The reference's own test, per channel: 255 minus the smallest
      // gained channel is the largest of 255 minus each.
      blends |= Bits(!(255.0f - gained[v] >= width)) << (kLanes * v);
    }
    if (p.allFast || WholePixels(blends) == 0) {
      for (int v = 0; v < kGroupVectors; ++v) StoreFloats(group + kLanes * v, Decode(t, gained[v] * scale));
    } else {
      BlendGroup(k, encoded);
      for (int v = 0; v < kGroupVectors; ++v) StoreFloats(group + kLanes * v, Decode(t, encoded[v]));
    }
  }
  for (float* px = s + 3 * int64(i); i < n; ++i, px += 3) TransformPixelFloat(k, t, px, px + 1, px + 2);
}

// --- one-plane rows: the grey pixel (v, v, v), red result kept ----------------
template <typename T, typename Load, typename Store, typename Reference>
void GreyInteger(const KernelPlan& p, T* s, int32 n, const int32* limits, float inScale, Load load,
                 Store store, Reference reference) {
  const VF limit = Splat(float(std::max(limits[0], std::max(limits[1], limits[2]))));
  const VF multiplier = Splat(p.k.redMultiplier);
  const float scale = p.k.outputScale;
  int32 i = 0;
  for (; i + kLanes <= n; i += kLanes) {
    const VF in = load(s + i);
    if (p.allFast || Bits(in > limit) == 0) {
      store(s + i, (in * inScale * multiplier) * scale);
    } else {
      VF r = in * inScale, g = r, b = r;
      Core(p.k, r, g, b);
      store(s + i, r);
    }
  }
  for (; i < n; ++i) s[i] = reference(p.k, s[i]);
}

void Grey8(const KernelPlan& p, uint8* s, int32 n) {
  if (p.allSlow) return reference::kTable.grey8(p, s, n);
  GreyInteger(p, s, n, p.limit8, 1.0f, LoadBytes, StoreBytes, TransformSingle8);
}

void Grey16(const KernelPlan& p, uint16* s, int32 n) {
  if (p.allSlow) return reference::kTable.grey16(p, s, n);
  GreyInteger(p, s, n, p.limit16, 0.0077819824f, LoadHalves, StoreHalves, TransformSingle16);
}

void GreyFloat(const KernelPlan& p, float* s, int32 n) {
  if (p.allSlow) return reference::kTable.greyFloat(p, s, n);
  const TransferTables& t = *p.tables;
  const TransformCoefficients& k = p.k;
  const float scale = k.outputScale, width = k.rolloffWidth;
  int32 i = 0;
  for (; i + kLanes <= n; i += kLanes) {
    const VF encoded = Encode(t, LoadFloats(s + i));
    const VF red = encoded * k.redMultiplier;
    // Blended only when no channel alone gives the weight 1.
    const VI redBlends = !(255.0f - red >= width);
    const VI greenBlends = !(255.0f - encoded * k.greenMultiplier >= width);
    const VI blueBlends = !(255.0f - encoded * k.blueMultiplier >= width);
    if (p.allFast || Bits(redBlends & greenBlends & blueBlends) == 0) {
      StoreFloats(s + i, Decode(t, red * scale));
    } else {
      VF r = encoded, g = encoded, b = encoded;
      Core(k, r, g, b);
      StoreFloats(s + i, Decode(t, r));
    }
  }
  for (; i < n; ++i) s[i] = TransformSingleFloat(k, t, s[i]);
}

// --- the preview's planar rows -----------------------------------------------
void Planar8(const KernelPlan& p, uint8* red, uint8* green, uint8* blue, int32 n) {
  if (p.allSlow) return reference::kTable.planar8(p, red, green, blue, n);
  const float scale = p.k.outputScale;
  uint8* planes[3] = {red, green, blue};
  VF multiplier[3], limit[3];
  const float channel[3] = {p.k.redMultiplier, p.k.greenMultiplier, p.k.blueMultiplier};
  for (int c = 0; c < 3; ++c) {
    multiplier[c] = Splat(channel[c]);
    limit[c] = Splat(float(p.limit8[c]));
  }
  int32 i = 0;
  for (; i + kLanes <= n; i += kLanes) {
    VF in[3];
    VI above = {};
    above = ~above;
    for (int c = 0; c < 3; ++c) {
      in[c] = LoadBytes(planes[c] + i);
      above &= in[c] > limit[c];
    }
    if (p.allFast || Bits(above) == 0) {
      for (int c = 0; c < 3; ++c) StoreBytes(planes[c] + i, (in[c] * multiplier[c]) * scale);
    } else {
      Core(p.k, in[0], in[1], in[2]);
      for (int c = 0; c < 3; ++c) StoreBytes(planes[c] + i, in[c]);
    }
  }
  for (; i < n; ++i) TransformPixel8(p.k, red + i, green + i, blue + i);
}

}  // namespace

const RowKernelTable kTable = {&Row8, &Row16, &RowFloat, &Grey8, &Grey16, &GreyFloat, &Planar8};
