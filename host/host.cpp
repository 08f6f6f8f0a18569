#include "host/host.h"

#include <algorithm>
#include <cstring>
#include <sstream>

namespace host {
namespace {

Host* gActive = nullptr;

int16 Clip16(int32 v) { return int16(std::max<int32>(-32768, std::min<int32>(32767, v))); }

Rect ToRect16(const VRect& r) {
  return Rect{Clip16(r.top), Clip16(r.left), Clip16(r.bottom), Clip16(r.right)};
}

}  // namespace

// The record's pixel callbacks (pixel_exchange.cpp).
AdvanceStateProc AdvanceStateEntry();
ProgressProc ProgressEntry();
TestAbortProc AbortEntry();
// displayPixels (display.cpp).
DisplayPixelsProc DisplayPixelsEntry();

Host* Host::Active() { return gActive; }

namespace {

// A host whose property proc says yes and writes nothing.
OSErr PropertyLeavingOutputs(PIType, PIType, int32, intptr_t*, Handle*) { return noErr; }

// errPlugInPropertyUndefined: no property of that key and index.
constexpr OSErr kPropertyUndefined = -30901;

// A host that knows its document's channels and paths and nothing else.
OSErr PropertyOfDocument(PIType signature, PIType key, int32 index, intptr_t* simple, Handle* complex) {
  Host* h = Host::Active();
  if (h == nullptr || signature != FourCharCode("8BIM")) return errPlugInHostInsufficient;
  const Document& d = h->document();
  const int16 colour = ColourPlanes(d.imageMode);
  const bool grey = colour == 1;
  if (key == FourCharCode("nuch")) {  // numberOfChannels
    if (simple) *simple = d.planes;
    return noErr;
  }
  if (key == FourCharCode("mode")) {  // imageMode
    if (simple) *simple = d.imageMode;
    return noErr;
  }
  if (key == FourCharCode("nupa")) {  // numberOfPaths: the documents here have none
    if (simple) *simple = 0;
    return noErr;
  }
  if (key == FourCharCode("nmpa")) return kPropertyUndefined;  // pathName: no path has an index
  if (key == FourCharCode("nmch")) {  // channelName: a handle the plug-in disposes of
    if (index < 0 || index >= d.planes) return kPropertyUndefined;
    static const char* const kRgb[] = {"Red", "Green", "Blue"};
    const std::string name = index >= colour ? "Alpha" : grey ? "Gray" : kRgb[index];
    if (complex) *complex = h->handles().NewForHost(name.data(), int32(name.size()));
    return noErr;
  }
  return errPlugInHostInsufficient;
}

}  // namespace

Host::Host(Document document, HostOptions options)
    : document_(std::move(document)),
      options_(options),
      handles_(ledger_),
      buffers_(ledger_),
      scripting_(ledger_, handles_),
      handleTable_(HandleSuite::Table()),
      bufferTable_(BufferSuite::Table()) {
  previous_ = gActive;
  gActive = this;
  BuildRecord();
  if (options_.outputStartsEmpty && !document_.pixels.empty()) {
    shadow_ = document_;
    std::fill(shadow_.pixels.begin(), shadow_.pixels.end(), uint8(0));
  }
  if (!options_.registryFile.empty()) {
    std::string error;
    if (!scripting_.LoadRegistry(options_.registryFile, &error)) registryError_ = error;
  }
}

Host::Host(Document shape, RowStream rows, int32 bandRows, HostOptions options) : Host(std::move(shape), options) {
  rows_ = std::make_unique<RowWindow>(std::move(rows), bandRows, filterRect_.top, 4);
}

bool Host::FinishRows(std::string* error) {
  if (!rows_) return true;
  CommitOutput();
  if (rows_->Finish()) return true;
  if (error) *error = rows_->error();
  return false;
}

std::string Host::RowsError() const { return rows_ ? rows_->error() : std::string(); }

uint8* Host::PixelAt(int32 x, int32 y, int plane) {
  if (!rows_) return document_.Sample(x, y, plane);
  return rows_->Row(y) + size_t(x) * document_.PixelBytes() + size_t(plane) * document_.SampleBytes();
}

uint8* Host::OutputAt(int32 x, int32 y, int plane) {
  if (shadow_.pixels.empty()) return PixelAt(x, y, plane);
  return shadow_.Sample(x, y, plane);
}

void Host::MergeOutput() {
  if (shadow_.pixels.empty()) return;
  const VRect f = filterRect_;
  const int32 left = std::max<int32>(f.left, 0), right = std::min<int32>(f.right, document_.width);
  if (right <= left) return;
  const size_t bytes = size_t(right - left) * document_.PixelBytes();
  for (int32 y = std::max<int32>(f.top, 0); y < std::min<int32>(f.bottom, document_.height); ++y)
    std::memcpy(document_.Sample(left, y, 0), shadow_.Sample(left, y, 0), bytes);
}

bool Host::HoldRows(int32 top, int32 bottom) { return !rows_ || rows_->Hold(top, bottom); }

Host::~Host() {
  // The host keeps the plug-in's handles between calls; it disposes of them
  // when it goes away, as an application does when it quits.
  if (record_.parameters && handles_.IsLive(record_.parameters))
    handles_.DisposeForHost(record_.parameters);
  Handle data = reinterpret_cast<Handle>(dataSlot_);
  if (data && handles_.IsLive(data)) handles_.DisposeForHost(data);
  Handle recorded = scripting_.descriptorParameters()->descriptor;
  if (recorded && handles_.IsLive(recorded)) handles_.DisposeForHost(recorded);
  if (gActive == this) gActive = previous_;
}

void Host::BuildRecord() {
  const Document& d = document_;
  const VRect& s = options_.selection;
  const bool wholeDocument = (s.bottom <= s.top || s.right <= s.left) && !options_.emptySelection;
  filterRect_ = wholeDocument ? VRect{0, 0, d.height, d.width} : s;

  FilterRecord& r = record_;
  r = FilterRecord{};
  r.imageSize = Point{Clip16(d.height), Clip16(d.width)};
  r.wholeSize = r.imageSize;
  r.planes = d.planes;
  r.filterRect = ToRect16(filterRect_);
  r.background = PSRGBColor{0xffff, 0xffff, 0xffff};
  r.foreground = PSRGBColor{0, 0, 0};
  r.maxSpace = options_.maxSpace;
  r.maxSpace64 = options_.maxSpace;
  r.backColor[0] = r.backColor[1] = r.backColor[2] = 0xff;
  r.hostSig = options_.hostSig;
  r.imageMode = d.imageMode;
  r.imageHRes = r.imageVRes = 72 << 16;
  platform_.hwnd = options_.ownerlessDialogs ? 0 : options_.ownerWindow;
  r.platformData = options_.offerPlatformData ? &platform_ : nullptr;
  r.displayPixels = options_.offerDisplayPixels ? DisplayPixelsEntry() : nullptr;
  if (options_.zeroSuiteCounts) {
    bufferTable_.bufferProcsVersion = 0;
    bufferTable_.numBufferProcs = 0;
    handleTable_.handleProcsVersion = 0;
    handleTable_.numHandleProcs = 0;
    scripting_.ZeroProcCounts();
  }
  r.bufferProcs = options_.offerBufferProcs ? &bufferTable_ : nullptr;
  r.handleProcs = options_.offerHandleProcs ? &handleTable_ : nullptr;
  r.samplingSupport = options_.samplingSupport;
  r.inputRate = kFixedOne;
  r.maskRate = kFixedOne;
  r.inTileWidth = r.outTileWidth = r.maskTileWidth = r.absTileWidth = options_.tileWidth;
  r.inTileHeight = r.outTileHeight = r.maskTileHeight = r.absTileHeight = options_.tileHeight;
  r.advanceState = options_.offerAdvanceState ? AdvanceStateEntry() : nullptr;
  r.progressProc = options_.offerProgress ? ProgressEntry() : nullptr;
  r.abortProc = options_.offerAbort ? AbortEntry() : nullptr;
  r.sSPBasic = options_.offerBasicSuite ? scripting_.basicSuite() : nullptr;
  switch (options_.scripting) {
    case ScriptingSupport::Full: r.descriptorParameters = scripting_.descriptorParameters(); break;
    case ScriptingSupport::Absent: r.descriptorParameters = nullptr; break;
    case ScriptingSupport::NoProcs:
      // Present, but nothing to play and nothing to record with.
      noScripting_ = PIDescriptorParameters{};
      r.descriptorParameters = &noScripting_;
      break;
  }
  r.depth = options_.reportedDepth >= 0 ? options_.reportedDepth : d.depth;
  r.bufferSpace = options_.bufferSpace;
  switch (options_.properties) {
    case PropertyAnswers::None: r.getPropertyObsolete = nullptr; break;
    case PropertyAnswers::LeavesOutputs: r.getPropertyObsolete = PropertyLeavingOutputs; break;
    case PropertyAnswers::DocumentOnly: r.getPropertyObsolete = PropertyOfDocument; break;
  }
  // A layer's transparency, handed over as the plane after the colour planes.
  const int16 colourPlanes = int16(std::min<int>(d.planes, ColourPlanes(d.imageMode)));
  r.inLayerPlanes = r.outLayerPlanes = r.absLayerPlanes = colourPlanes;
  r.inTransparencyMask = r.outTransparencyMask = r.absTransparencyMask = d.planes > colourPlanes ? 1 : 0;
  handles_.RefuseEmpty(options_.refusesEmptyHandles);
  buffers_.RequireFreeInOrder(options_.buffersFreedInOrder);
  r.filterCase = 1;  // flat image without selection

  bigDocument_ = BigDocumentStruct{};
  bigDocument_.imageSize32 = VPoint{d.height, d.width};
  bigDocument_.wholeSize32 = bigDocument_.imageSize32;
  bigDocument_.filterRect32 = filterRect_;
  r.bigDocumentData = options_.offerBigDocument ? &bigDocument_ : nullptr;
  if (options_.garbageRecordTail) {
    // The fields a record of this age does not have hold whatever the
    // host's memory held: a pointer to nothing readable, a nonsense size.
    r.bigDocumentData = static_cast<BigDocumentStruct*>(unreadable_.address());
    r.maxSpace64 = int64(0x7a7a7a7a7a7a7a7aLL);
    r.bufferSpace64 = int64(0x7a7a7a7a7a7a7a7aLL);
  }

  about_ = AboutRecord{};
  about_.platformData = r.platformData;
  about_.sSPBasic = r.sSPBasic;
}

void Host::ForgetPluginState() {
  if (record_.parameters && handles_.IsLive(record_.parameters)) handles_.DisposeForHost(record_.parameters);
  record_.parameters = nullptr;
  Handle data = reinterpret_cast<Handle>(dataSlot_);
  if (data && handles_.IsLive(data)) handles_.DisposeForHost(data);
  dataSlot_ = 0;
}

int16 Host::Call(PluginMainProc entry, int16 selector) {
  int16 result = 0;
  void* rec = selector == filterSelectorAbout ? static_cast<void*>(&about_) : &record_;
  entry(selector, rec, &dataSlot_, &result);
  CommitOutput();
  return result;
}

bool Host::Balanced(std::string* why) const {
  std::ostringstream out;
  int keptHandles = 0;
  if (record_.parameters && handles_.IsLive(record_.parameters)) ++keptHandles;
  Handle data = reinterpret_cast<Handle>(dataSlot_);
  if (data && handles_.IsLive(data)) ++keptHandles;
  // The recorded (or not yet played) descriptor is the host's too.
  Handle descriptor = const_cast<Scripting&>(scripting_).descriptorParameters()->descriptor;
  if (descriptor && handles_.IsLive(descriptor)) ++keptHandles;
  if (handles_.LiveCount() != keptHandles)
    out << handles_.LiveCount() - keptHandles << " handle(s) left alive; ";
  if (handles_.LockedCount() != 0) out << handles_.LockedCount() << " handle(s) left locked; ";
  if (buffers_.LiveCount() != 0) out << buffers_.LiveCount() << " buffer(s) not freed; ";
  if (buffers_.LockedCount() != 0) out << buffers_.LockedCount() << " buffer(s) left locked; ";
  for (const auto& m : handles_.Misuse()) out << m << "; ";
  for (const auto& m : buffers_.Misuse()) out << m << "; ";
  for (const auto& m : misuse_) out << m << "; ";
  out << scripting_.Outstanding();
  const std::string account = out.str();
  if (why) *why = account;
  return account.empty();
}

}  // namespace host
