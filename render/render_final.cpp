#include "render/render_final.h"

#include <algorithm>

#include "plugin/host_rects.h"
#include "plugin/host_services.h"
#include "plugin/pixel_request.h"
#include "plugin/parameters.h"
#include "render/parallel_step.h"
#include "platform/worker_crew.h"
#include "render/planes.h"
#include "render/row_kernels.h"
#include "render/transfer_tables.h"
#include "render/transform.h"

void RenderFinal(FilterRecord& record, FilterParameters& parameters, int16& result) {
  if (record.advanceState == nullptr) {
    result = errPlugInHostInsufficient;
    return;
  }
  int32 tileHeight = record.outTileHeight;
  int32 tileWidth = record.outTileWidth;
  // 0 means the host has no preference; a negative size would never advance.
  if (tileHeight <= 0 || tileWidth <= 0) tileHeight = tileWidth = 256;

  const VRect filter = FilterRect(record);
  const int64 height = int64(filter.bottom) - filter.top;
  const int64 width = int64(filter.right) - filter.left;
  record.inputRate = kFixedOne;
  record.maskRate = kFixedOne;
  PrepareTransform(parameters, gTransformCoefficients);
  if (height <= 0 || width <= 0) return;

  // Documents whose channels are not RGB are left exactly as they are: no
  // pixel is requested, so the host keeps every one of them.
  const int16 planes = ProcessedPlanesForMode(record.imageMode);
  if (planes == 0) return;
  // Every plane of the layer is asked for and written, the transparency
  // plane too: some hosts (GIMP's PSPI) start the output empty, so a plane
  // not written comes back as 0 and the layer turns invisible.
  const int16 layerPlanes = LayerPlanes(record, planes);
  // A depth the kernels do not know would have them read the host's rows
  // with the wrong sample size.
  const int32 depth = SampleDepth(record);
  if (depth != 8 && depth != 16 && depth != 32) {
    result = filterBadParameters;
    return;
  }

  const int64 tilesDown = (height + tileHeight - 1) / tileHeight;
  const int64 tilesAcross = (width + tileWidth - 1) / tileWidth;
  const int64 total = tilesDown * tilesAcross;
  // progressProc counts in 32 bits; scale down for absurdly many tiles.
  const int64 progressDivisor = total > 0x7fffffff ? total / 0x7fffffff + 1 : 1;
  int64 done = 0;

  const KernelPlan plan = MakeKernelPlan(gTransformCoefficients, &gTransferTables);
  // Workers start once for the whole render and take every tile in turn.
  platform::WorkerCrew crew(RenderWorkerCount(), kRenderThreadStackBytes);
  BandJob prototype;
  prototype.plan = &plan;
  prototype.depth = depth;
  prototype.planeCount = planes;
  prototype.pixelPlanes = layerPlanes;
  prototype.interleaved = true;
  prototype.coefficients = &gTransformCoefficients;
  prototype.tables = &gTransferTables;

  for (int64 i = 0; i < tilesDown; ++i) {
    for (int64 j = 0; j < tilesAcross; ++j) {
      VRect tile;
      tile.top = int32(filter.top + i * tileHeight);
      tile.left = int32(filter.left + j * tileWidth);
      tile.bottom = int32(std::min<int64>(int64(tile.top) + tileHeight, filter.bottom));
      tile.right = int32(std::min<int64>(int64(tile.left) + tileWidth, filter.right));
      if (record.haveMask) SetMaskRect(record, tile);
      PixelRequest request;
      request.in = request.out = tile;
      request.setOut = request.writesOut = true;
      request.planes = layerPlanes;
      request.colourPlanes = planes;
      DeliveredPixels pixels;
      result = RequestPixels(record, request, pixels);
      if (result != noErr) return;

      BandJob job = prototype;
      job.data = pixels.out;
      job.rowBytes = pixels.outRowBytes;
      job.maskData = record.maskData;
      job.maskRowBytes = record.maskRowBytes;
      job.endColumn = Width(tile);
      // Many hosts hand an empty or stale output buffer: the tile's pixels
      // are taken from the input buffer. The same memory for both is the
      // in-place case.
      if (pixels.in != pixels.out) {
        job.source = pixels.in;
        job.sourceRowBytes = pixels.inRowBytes;
      }
      RunParallelStep(crew, job, Height(tile));

      ++done;
      if (record.progressProc) {
        record.progressProc(int32(done / progressDivisor), int32(total / progressDivisor));
      }
      if (record.abortProc && record.abortProc()) {
        result = userCanceledErr;
        return;
      }
    }
  }
}
