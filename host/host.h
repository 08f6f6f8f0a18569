// The bundled host: it stands where Photoshop stands. It owns a document and
// the filter record that describes it, offers the host's procs (handles,
// buffers, and in later slices pixels, descriptors and suites), counts every
// call, and calls a module's PluginMain the way a real host does.
//
// The record's callbacks are plain C function pointers without a context
// argument, so they reach the host through Host::Active(): exactly one Host
// is active at a time, the one most recently constructed that still lives.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "hostapi/host_interface.h"
#include "host/buffer_suite.h"
#include "host/call_ledger.h"
#include "host/display.h"
#include "imageio/document.h"
#include "host/handle_suite.h"
#include "host/row_window.h"
#include "host/scripting.h"
#include "host/unreadable_memory.h"

namespace host {

// How the host hands out the output buffer of a request.
enum class OutputBuffer {
  Prefilled,        // a copy of the current pixels, as Photoshop does by default
  Stale,            // left as it was: hosts that expect every pixel to be written
  SharedWithInput,  // the same memory as inData (directly the document when it can)
};

// One advanceState request, as the host saw it.
struct PixelRequest {
  VRect inRect;
  VRect outRect;
  int16 inLoPlane, inHiPlane, outLoPlane, outHiPlane;
  int32 rate;  // integral sampling factor of the input
};

// How the host offers scripting (playing and recording actions).
enum class ScriptingSupport {
  Full,     // descriptorParameters with read and write procs
  Absent,   // descriptorParameters NULL
  NoProcs,  // descriptorParameters present, but playInfo 0, no descriptor and no procs
};

// What the host's getPropertyObsolete does.
enum class PropertyAnswers {
  None,           // no proc (NULL)
  LeavesOutputs,  // returns noErr without writing its out-parameters
  // Answers numberOfChannels, channelName, imageMode, numberOfPaths and
  // pathName; errPlugInHostInsufficient for every other key.
  DocumentOnly,
};

// What the host offers; the defaults are a complete modern host.
struct HostOptions {
  OSType hostSig = FourCharCode("Kstl");
  bool offerHandleProcs = true;
  bool offerBufferProcs = true;
  bool offerBigDocument = true;  // bigDocumentData with the 32-bit rectangles
  bool offerPlatformData = true;
  intptr_t ownerWindow = 0;  // PlatformData.hwnd: the window that owns the plug-in's dialog
  bool offerDisplayPixels = true;
  // The filter rectangle; an empty one (the default) means the whole document,
  // unless `emptySelection` asks for it as it is (a selection of no pixels).
  VRect selection{0, 0, 0, 0};
  bool emptySelection = false;
  int16 tileWidth = 256;   // advertised outTileWidth / outTileHeight
  int16 tileHeight = 256;
  int32 maxSpace = 100000000;
  int32 reportedDepth = -1;  // -1: the document's depth; anything else is reported as is
  bool offerAdvanceState = true;
  bool offerProgress = true;
  bool offerAbort = true;
  OutputBuffer output = OutputBuffer::Prefilled;
  int32 rowPadding = 0;      // extra bytes at the end of every row handed out
  int abortAfter = 0;        // abortProc answers true from its k-th call on (0: never)
  bool offerBasicSuite = true;           // sSPBasic (registry and descriptor suites)
  ScriptingSupport scripting = ScriptingSupport::Full;  // playing and recording actions
  // Older hosts leave the version and member-count fields of their proc
  // tables at 0 while setting the members.
  bool zeroSuiteCounts = false;
  std::string registryFile;  // where persistent registry entries live between hosts

  // What third-party hosts do differently from the interface's letter.
  // Hands out inData again only when inRect changes: a request for the same
  // rectangle with other planes or another rate gets the previous buffer.
  bool cachesInputByRect = false;
  // inColumnBytes and outColumnBytes left 0 and the plane bytes 1, instead of
  // describing the interleaved buffer.
  bool columnBytesZero = false;
  // With a transparency plane in an interleaved request, outColumnBytes
  // leaves that plane out.
  bool columnBytesOmitTransparency = false;
  // Keeps neither the parameters nor the data slot between runs: every run
  // starts with Parameters on fresh handles.
  bool parametersEveryRun = false;
  // Ignores the result codes the plug-in returns: the run goes on and the
  // output is kept as if it had succeeded.
  bool ignoresErrors = false;
  // The output starts empty: the host keeps what the filter writes apart
  // from the document, in a copy initialised to 0 (GIMP's shadow buffer).
  // Each request writes the previous output there and hands out a new
  // buffer pre-filled with the original pixels; when the run succeeds the
  // filter rectangle of the document becomes that copy, so planes the filter
  // never wrote come back 0.
  bool outputStartsEmpty = false;
  // After Start the host itself calls advanceState before each Continue,
  // while inRect or outRect is non-empty, and once more after the last; it
  // never calls Finish.
  bool hostAdvancesState = false;
  // PlatformData.hwnd is NULL whatever `ownerWindow` says: the plug-in's
  // dialog has no owner window.
  bool ownerlessDialogs = false;
  // Parts of the buffers that lie outside the image are left uninitialised
  // (filled with a pattern no picture has) instead of zeroed.
  bool outsideImageUninitialised = false;
  // newProc(0) fails.
  bool refusesEmptyHandles = false;
  // Freeing a buffer other than the most recently allocated one that is
  // still alive: this host crashes (recorded as misuse).
  bool buffersFreedInOrder = false;
  // What getPropertyObsolete answers.
  PropertyAnswers properties = PropertyAnswers::None;
  // displayPixels refuses a NULL target, NULL baseAddr or 0 rowBytes with
  // filterBadParameters, and any map whose samples are not 8-bit.
  bool displayPixelsStrict = false;
  // displayPixels takes the rows to draw from baseAddr down, whatever
  // srcRect.top says, and the colour samples side by side whatever
  // planeBytes says; a map that is not 8-bit RGB or grey ends the host's
  // process (recorded as misuse).
  bool displayPixelsFromBaseAddr = false;
  // A record from before the big-document fields: bigDocumentData points at
  // memory that cannot be read and maxSpace64 holds garbage.
  bool garbageRecordTail = false;
  int32 bufferSpace = 0;
  // samplingSupport as the record states it: 1, integral rates; 0, the host
  // does not sample at all and delivers full resolution whatever inputRate says.
  char samplingSupport = 1;
  // Told of every progressProc call (a progress bar).
  std::function<void(int32 done, int32 total)> onProgress;
  // abortProc answers true once this is set (Ctrl-C).
  const std::atomic<bool>* cancelRequested = nullptr;
};

class Host {
 public:
  explicit Host(Document document, HostOptions options = {});
  // A host that streams: `shape` is the document without its pixels, which
  // come from `rows` as the filter asks for them and leave through it once
  // the filter has moved below them (see row_window.h). `bandRows` rows per
  // band, one band starting at the filter rectangle's top.
  Host(Document shape, RowStream rows, int32 bandRows, HostOptions options = {});
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // The host whose procs the record's callbacks reach, or nullptr.
  static Host* Active();

  // What a host that keeps nothing between runs does before each: the
  // plug-in's parameter and data handles are disposed of and forgotten.
  void ForgetPluginState();

  // Calls the entry point with this host's record (the about record for
  // selector 0), data slot and a fresh result word; returns the result word.
  int16 Call(PluginMainProc entry, int16 selector);

  FilterRecord& record() { return record_; }
  AboutRecord& aboutRecord() { return about_; }
  intptr_t& dataSlot() { return dataSlot_; }
  BigDocumentStruct& bigDocument() { return bigDocument_; }
  // The big-document record the host really offers (what the record's
  // pointer holds is not always the host's own), or nullptr.
  const BigDocumentStruct* OfferedBigDocument() const {
    return options_.offerBigDocument && !options_.garbageRecordTail ? &bigDocument_ : nullptr;
  }
  Document& document() { return document_; }
  // The document, moved out when the host is done with it: a whole picture
  // goes back to its owner without a copy.
  Document TakeDocument() { return std::move(document_); }
  const HostOptions& options() const { return options_; }
  CallLedger& ledger() { return ledger_; }
  HandleSuite& handles() { return handles_; }
  BufferSuite& buffers() { return buffers_; }
  Scripting& scripting() { return scripting_; }

  // Why the registry file could not be read ("" when it could).
  const std::string& registryError() const { return registryError_; }

  // The filter rectangle in full 32-bit form, whatever the record offers.
  VRect FilterRect() const { return filterRect_; }

  // The host's side of the pixel exchange (the record's callbacks land here).
  OSErr AdvanceState();
  void Progress(int32 done, int32 total);
  bool Abort();
  // Writes the pending output buffer back into the document (into the
  // output kept apart, for a host whose output starts empty), as a host does
  // at the next request and when the plug-in returns.
  void CommitOutput();
  // A host whose output starts empty, after a run that succeeded: the
  // filter rectangle of the document becomes the output kept apart. Nothing
  // for other hosts.
  void MergeOutput();
  // A streaming host, after the run: every row not yet written goes out.
  // False with the reason when reading or writing failed at any point.
  bool FinishRows(std::string* error);
  // A streaming host's reason for failing a request ("" when none).
  std::string RowsError() const;
  // Draws a pixel map into the plug-in's window (display.cpp).
  OSErr DisplayPixels(const PSPixelMap* map, const VRect* source, int32 row, int32 col, void* target);
  // Where the preview was last painted. Safe to call from any thread.
  DisplayedPreview Displayed() const;
  // The pixel map last painted, as RGB rows top to bottom (its size is the
  // painted rectangle of Displayed()). Safe to call from any thread.
  std::vector<uint8> ShownPreview() const;

  const std::vector<PixelRequest>& requests() const { return requests_; }
  const std::vector<std::pair<int32, int32>>& progress() const { return progress_; }

  // True when nothing the plug-in acquired is still held: no buffer alive,
  // no handle locked, no handle alive but the two the host keeps for the
  // plug-in (parameters and data slot), and no misuse of any proc. `why`
  // receives a readable account otherwise.
  bool Balanced(std::string* why = nullptr) const;
  // A call the real host would not survive (its process ends), recorded
  // instead so that a test sees it; Balanced reports it.
  void RecordMisuse(const std::string& what) { misuse_.push_back(what); }

 private:
  void BuildRecord();
  // The document's samples, wherever the rows are held.
  uint8* PixelAt(int32 x, int32 y, int plane);
  // Where output is written back: the document, or the output kept apart.
  uint8* OutputAt(int32 x, int32 y, int plane);
  // Rows [top, bottom) ready for PixelAt (a no-op for a whole document).
  bool HoldRows(int32 top, int32 bottom);
  void CopyIn(uint8* to, int64 x0, int64 n, int64 step, int32 y, int16 lo, int16 count);
  void DescribeColumns(FilterRecord& r, int16 inPlanes, int16 outPlanes, int32 sample) const;

  Document document_;
  std::unique_ptr<RowWindow> rows_;  // a streaming host's rows; null: all in document_
  HostOptions options_;
  CallLedger ledger_;
  HandleSuite handles_;
  BufferSuite buffers_;
  Scripting scripting_;
  HandleProcs handleTable_;
  BufferProcs bufferTable_;
  PlatformData platform_{0};
  BigDocumentStruct bigDocument_{};
  PIDescriptorParameters noScripting_{};
  UnreadableMemory unreadable_;
  FilterRecord record_{};
  AboutRecord about_{};
  intptr_t dataSlot_ = 0;
  VRect filterRect_{};
  Host* previous_ = nullptr;
  std::string registryError_;

  // The current request's buffers.
  std::vector<uint8> inBuffer_;
  std::vector<uint8> outBuffer_;
  bool outputPending_ = false;
  VRect pendingRect_{};
  int16 pendingLo_ = 0, pendingHi_ = -1;
  int32 pendingRowBytes_ = 0;
  uint8* pendingData_ = nullptr;
  Document shadow_;  // the output kept apart (outputStartsEmpty): the document's shape, all 0 at first
  std::vector<std::string> misuse_;
  bool inputCached_ = false;  // the input cache of hosts that key it by rectangle
  VRect cachedInRect_{};
  std::vector<PixelRequest> requests_;
  std::vector<std::pair<int32, int32>> progress_;
  mutable std::mutex displayMutex_;
  DisplayedPreview displayed_;
  std::vector<uint8> shownPixels_;
};

}  // namespace host
