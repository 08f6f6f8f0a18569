#include "host/host_profiles.h"

#include <algorithm>
#include <cctype>

namespace host {
namespace {

int16 Tile(int32 size) { return int16(std::min<int32>(std::max<int32>(size, 1), 32767)); }

// Kilobytes where the interface says bytes: 2 GB of memory reads as 2 MB.
constexpr int32 kTwoGigabytesInKilobytes = 2 * 1024 * 1024;

void Photoshop(HostOptions&, int32, int32) {}

// PhotoDemon's 8bf engine, measured under Wine with a logging filter.
void PspiHost(HostOptions& o, int32 width, int32 height) {
  o.hostSig = FourCharCode("OHps");  // the bytes "spHO"
  o.parametersEveryRun = true;
  o.offerBigDocument = false;
  o.offerBasicSuite = false;
  o.scripting = ScriptingSupport::NoProcs;
  o.properties = PropertyAnswers::LeavesOutputs;
  o.columnBytesZero = true;
  o.tileWidth = Tile(width);  // the whole image
  o.tileHeight = Tile(height);
  o.maxSpace = 0x7fffffff;
  o.output = OutputBuffer::Prefilled;
  o.cachesInputByRect = true;
  o.displayPixelsStrict = true;
  o.samplingSupport = 0;
}

// GIMP 2.10 with its PSPI plug-in, measured. Which run it is (the menu, a
// script, "Repeat last filter") decides what the filter is handed at the
// start: see host_runs.h. A selection is handed over as its bounds, without
// a mask (GIMP blends the result through the selection itself).
void Gimp(HostOptions& o, int32, int32) {
  o.hostSig = FourCharCode("PMIG");  // the bytes "GIMP"
  o.offerBasicSuite = false;
  o.scripting = ScriptingSupport::Absent;
  o.offerBigDocument = false;
  o.properties = PropertyAnswers::DocumentOnly;
  o.tileWidth = o.tileHeight = 128;
  o.maxSpace = 100000000;
  o.bufferSpace = 0;
  o.columnBytesZero = true;
  o.outsideImageUninitialised = true;
  o.outputStartsEmpty = true;
  o.hostAdvancesState = true;
  o.ownerlessDialogs = true;
  o.displayPixelsStrict = true;
  o.displayPixelsFromBaseAddr = true;
  o.samplingSupport = 0;
}

// Paint.NET's filter host (PSFilterPdn), which runs the filter in a helper
// process: the dialog's owner is not the application's main window.
void PaintNet(HostOptions& o, int32, int32) {
  o.displayPixelsStrict = true;
  o.tileWidth = 96;  // suggested as width x height the wrong way round
  o.tileHeight = 320;
  o.maxSpace = 1 << 30;
}

void IrfanView(HostOptions& o, int32, int32) {
  o.hostSig = FourCharCode("UP20");
  o.maxSpace = kTwoGigabytesInKilobytes;
  o.parametersEveryRun = true;
  o.offerBasicSuite = false;
  o.scripting = ScriptingSupport::Absent;
  o.ignoresErrors = true;
}

void PaintShopPro(HostOptions& o, int32, int32) {
  o.tileWidth = o.tileHeight = int16(-25536);  // 40000, read as unsigned 16 bits
  o.columnBytesOmitTransparency = true;
}

void Affinity(HostOptions& o, int32, int32) {
  o.zeroSuiteCounts = true;
  o.ignoresErrors = true;
}

void PhotoFiltre(HostOptions& o, int32, int32) {
  o.offerHandleProcs = false;
  o.buffersFreedInOrder = true;
}

void XnView(HostOptions& o, int32, int32) { o.ignoresErrors = true; }

void PhotoPlus(HostOptions& o, int32, int32) {
  o.hostSig = FourCharCode("8BIM");
  o.parametersEveryRun = true;
  o.maxSpace = kTwoGigabytesInKilobytes;
}

// A host from before the depth field: the fields added since are absent or
// whatever its memory held.
void OlderHost(HostOptions& o, int32, int32) {
  o.reportedDepth = 0;
  o.garbageRecordTail = true;
  o.offerBasicSuite = false;
  o.offerPlatformData = false;
  o.samplingSupport = 0;
}

}  // namespace

const std::vector<HostProfile>& HostProfiles() {
  static const std::vector<HostProfile> profiles = {
      {"photoshop", "Adobe Photoshop (a complete host)", "32 and 64-bit", Photoshop},
      {"pspihost", "pspiHost, the 8bf engine of PhotoDemon", "32-bit", PspiHost, true, true},
      {"gimp", "GIMP with the PSPI plug-in", "32 and 64-bit", Gimp, true, true, true},
      {"paint.net", "Paint.NET's 8bf filter host", "64-bit", PaintNet},
      {"irfanview", "IrfanView", "32 and 64-bit", IrfanView, true},
      {"paintshop-pro", "PaintShop Pro", "32 and 64-bit", PaintShopPro, false, true},
      {"affinity", "Affinity Photo", "64-bit", Affinity},
      {"photofiltre", "PhotoFiltre", "32-bit", PhotoFiltre, true},
      {"xnview", "XnView", "32 and 64-bit", XnView},
      {"photoplus", "PhotoPlus, PluginCommander", "32-bit", PhotoPlus},
      {"older-host", "hosts from before Photoshop 5", "32-bit", OlderHost, true},
  };
  return profiles;
}

const HostProfile* FindHostProfile(const std::string& name) {
  auto lower = [](std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  for (const HostProfile& p : HostProfiles())
    if (lower(p.name) == lower(name)) return &p;
  return nullptr;
}

}  // namespace host
