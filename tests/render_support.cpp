#include "tests/render_support.h"

#include <cstring>
#include <sstream>

#include "plugin/pixel_request.h"
#include "plugin/scripting_keys.h"
#include "render/planes.h"
#include "render/render_final.h"
#include "render/transfer_tables.h"

void FillNoise(host::Document& d, uint32 seed) {
  uint32 x = seed * 2654435761u + 1;
  auto next = [&] {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
  };
  for (int32 y = 0; y < d.height; ++y)
    for (int32 c = 0; c < d.width; ++c)
      for (int p = 0; p < d.planes; ++p) {
        const uint32 v = next();
        if (d.depth == 8) {
          d.Set<uint8>(c, y, p, uint8(v));
        } else if (d.depth == 16) {
          d.Set<uint16>(c, y, p, uint16(v % 32769));
        } else {
          d.Set<float>(c, y, p, float(v % 1100) / 1000.0f - 0.05f);
        }
      }
}

void FillFileNoise(host::Document& d, uint32 seed) {
  FillNoise(d, seed);
  if (d.depth != 32) return;
  for (int32 y = 0; y < d.height; ++y)
    for (int32 c = 0; c < d.width; ++c)
      for (int p = 0; p < d.planes; ++p) {
        const float v = d.Get<float>(c, y, p);
        d.Set<float>(c, y, p, v < 0 ? 0.0f : v > 1 ? 1.0f : v);
      }
}

FilterParameters WarmCast() {
  FilterParameters p{};
  ResetParameters(p);
  p.redGain = 0.8;
  p.redGainFine = 0.3;
  p.blueGain = 1.25;
  return p;
}

CallScope::CallScope(host::Host& h) : host_(h) {
  if (BigDocumentStruct* big = h.record().bigDocumentData) big->PluginUsing32BitCoordinates = 1;
  BeginPixelRequests(h.record());
  AllocateTransferTables(gTransferTables, &h.record());
  BuildSrgbToLinearTable(gTransferTables);
  BuildLinearToSrgbTable(gTransferTables);
}

CallScope::~CallScope() {
  ReleaseTransferTables(gTransferTables);
  host_.CommitOutput();
}

int16 RunFinal(host::Host& h, FilterParameters parameters) {
  CallScope call(h);
  int16 result = 0;
  RenderFinal(h.record(), parameters, result);
  return result;
}

host::Document Expected(const host::Document& original, FilterParameters parameters, VRect rect) {
  host::Document d = original;
  TransformCoefficients k;
  PrepareTransform(parameters, k);
  TransferTables tables;
  AllocateTransferTables(tables, nullptr);
  BuildSrgbToLinearTable(tables);
  BuildLinearToSrgbTable(tables);
  const int16 planes = ProcessedPlanesForMode(d.imageMode);
  for (int32 y = rect.top; y < rect.bottom; ++y) {
    for (int32 x = rect.left; x < rect.right; ++x) {
      if (planes == 3) {
        if (d.depth == 8) {
          TransformPixel8(k, d.Sample(x, y, 0), d.Sample(x, y, 1), d.Sample(x, y, 2));
        } else if (d.depth == 16) {
          uint16 r = d.Get<uint16>(x, y, 0), g = d.Get<uint16>(x, y, 1), b = d.Get<uint16>(x, y, 2);
          TransformPixel16(k, &r, &g, &b);
          d.Set(x, y, 0, r), d.Set(x, y, 1, g), d.Set(x, y, 2, b);
        } else {
          float r = d.Get<float>(x, y, 0), g = d.Get<float>(x, y, 1), b = d.Get<float>(x, y, 2);
          TransformPixelFloat(k, tables, &r, &g, &b);
          d.Set(x, y, 0, r), d.Set(x, y, 1, g), d.Set(x, y, 2, b);
        }
      } else if (planes == 1) {
        if (d.depth == 8) {
          d.Set(x, y, 0, TransformSingle8(k, d.Get<uint8>(x, y, 0)));
        } else if (d.depth == 16) {
          d.Set(x, y, 0, TransformSingle16(k, d.Get<uint16>(x, y, 0)));
        } else {
          d.Set(x, y, 0, TransformSingleFloat(k, tables, d.Get<float>(x, y, 0)));
        }
      }
    }
  }
  ReleaseTransferTables(tables);
  return d;
}

std::string FirstDifference(const host::Document& a, const host::Document& b) {
  if (a.width != b.width || a.height != b.height || a.planes != b.planes || a.depth != b.depth)
    return "documents differ in shape";
  const size_t sample = size_t(a.SampleBytes());
  for (int32 y = 0; y < a.height; ++y)
    for (int32 x = 0; x < a.width; ++x)
      for (int p = 0; p < a.planes; ++p)
        if (std::memcmp(a.Sample(x, y, p), b.Sample(x, y, p), sample) != 0) {
          std::ostringstream s;
          s << "first difference at x=" << x << " y=" << y << " plane " << p;
          return s.str();
        }
  return "";
}

host::Descriptor ActionFor(const FilterParameters& p) {
  host::Descriptor d;
  for (const ScriptingKey& k : kScriptingKeys) {
    if (k.type == KeyType::Float) d.PutFloat(k.key, ParameterAt(p, k.parameterIndex));
    if (k.type == KeyType::Integer && k.scriptWrite) d.PutInteger(k.key, 1);
  }
  return d;
}
