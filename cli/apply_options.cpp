#include "cli/apply_options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "host/host_profiles.h"
#include "host/host_runs.h"
#include "cli/cli.h"

namespace cli {

const char* const kApplyHelp =
    "Usage: kestrelle apply [options] INPUT OUTPUT\n"
    "       kestrelle apply [options] INPUT... --output-dir DIR\n"
    "\n"
    "Filters INPUT with the Kestrelle module and writes the result to OUTPUT.\n"
    "PNG (8 and 16 bits, grey or RGB), TIFF (8, 16 and 32-bit float, grey or\n"
    "RGB) and JPEG (8-bit grey or RGB) are read; OUTPUT's format follows its\n"
    "extension (.png, .tif, .tiff, .jpg, .jpeg) and keeps the input's bit depth\n"
    "where it can hold it. An alpha channel is kept and not filtered. The ICC\n"
    "profile, EXIF, XMP, IPTC, text tags and resolution are kept wherever the\n"
    "output format can hold them; JPEG to JPEG keeps every APPn and COM segment\n"
    "but MPF. What the output cannot hold is named in a warning.\n"
    "A document the filter does not work on (its plug-in properties say which,\n"
    "as a host greys the filter out for it) is refused.\n"
    "\n"
    "INPUT is never changed. OUTPUT, --side-by-side and --record are written\n"
    "together: each to a temporary file next to it, and none replaces an\n"
    "existing file until all are written, so a failure or a cancel leaves every\n"
    "file as it was. An output that is INPUT, another output or any file the\n"
    "run reads (however it is named: ./x.png, a link) is refused. An OUTPUT that\n"
    "is a symbolic link is written through to the file it points to.\n"
    "\n"
    "Settings (the dialog's controls; unset ones come from --play, then from the\n"
    "last-used settings in --registry, then the defaults). A value outside its\n"
    "range is refused:\n"
    "  --red-gain X            R Gain (coarse), 0.0039216 (1/255) to 1000\n"
    "  --red-gain-fine X       R Gain (fine), -100 to 100\n"
    "  --green-gain X          G Gain (coarse), 0.0039216 to 1000\n"
    "  --green-gain-fine X     G Gain (fine), -100 to 100\n"
    "  --blue-gain X           B Gain (coarse), 0.0039216 to 1000\n"
    "  --blue-gain-fine X      B Gain (fine), -100 to 100\n"
    "  --highlight-recovery X  Highlight Recovery, 0 to 100\n"
    "  --highlight-rolloff X   Highlight Rolloff, 0 to 10000\n"
    "\n"
    "Host:\n"
    "  --play FILE             play a recorded action (a JSON descriptor); a key\n"
    "                          the filter does not read is named in a warning\n"
    "  --record FILE           save the action the filter records, to play later\n"
    "  --registry FILE         keep the filter's last-used settings in FILE; when\n"
    "                          it cannot be written, the image is still written,\n"
    "                          with a warning and exit status 1\n"
    "  --selection T,L,B,R     filter only rows T to B-1, columns L to R-1 (the\n"
    "                          bottom row and right column are not included)\n"
    "  --tile N                tile size the host offers (default 256)\n"
    "  --host-profile NAME     run the filter the way that host application\n"
    "                          would (its quirks, what it lacks); see below\n"
    "  --host-run MODE         how a host with run modes (gimp) calls the filter:\n"
    "                          interactive (its menu: the dialog opens; the\n"
    "                          default), scripted (a script in a new session: the\n"
    "                          host gives no settings, so the dialog opens too)\n"
    "                          or repeat (\"Repeat last filter\": no dialog, the\n"
    "                          last-used settings; no settings options)\n"
    "  --module PATH           the filter module (default: the one next to kestrelle)\n"
    "  --side-by-side FILE     also write INPUT and the result side by side\n"
    "  --quality N             JPEG outputs: quality 1 to 100 (default: a JPEG\n"
    "                          input's own quality and chroma subsampling, else 92)\n"
    "  --quiet                 no progress bar\n"
    "\n"
    "The filter's dialog opens with the settings above. On Windows it is the\n"
    "real dialog. Natively it runs on a headless window system and a script\n"
    "must close it: one that does not end with ok cancels it, and nothing is\n"
    "written.\n"
    "  --dialog                open the dialog; on Windows, with no script, it\n"
    "                          waits for you; natively it needs --ui or\n"
    "                          --ui-steps (end the script with ok)\n"
    "  --ui FILE               play the dialog with the UI script in FILE\n"
    "  --ui-steps 'STEPS'      play it with these steps\n"
    "  --neutral-area T,L,B,R  let the dialog's eyedropper set the gains from rows\n"
    "                          T to B-1, columns L to R-1, an area that should be\n"
    "                          grey: the preview is zoomed to 100 % and, on images\n"
    "                          larger than it, dragged until the area shows; the\n"
    "                          area must fit in the preview\n"
    "  --settings FILE         apply a settings file (.ksl) through Load Settings;\n"
    "                          a file the filter cannot load fails the run\n"
    "--settings and --neutral-area come first, then --ui, then --ui-steps; with\n"
    "only --settings and --neutral-area the dialog ends with OK.\n"
    "\n"
    "UI scripts: one step per line or separated by ';', '#' comments, names with\n"
    "spaces in double quotes:\n"
    "  click BUTTON            OK, Cancel, Reset, Eyedropper, \"Show Original\",\n"
    "                          \"Save Settings\", \"Load Settings\", or an ID\n"
    "  ok, cancel              click OK, click Cancel\n"
    "  drag ROW POSITION       the row's slider, in its units (gain 1.37 is 137)\n"
    "  type ROW TEXT           typed at the end of the row's edit box, key by key\n"
    "  clear ROW, set ROW TEXT, double-click ROW (the label: back to the default)\n"
    "      ROW: \"R Gain\", \"R Gain (fine)\", \"G Gain\", \"G Gain (fine)\", \"B Gain\",\n"
    "           \"B Gain (fine)\", \"Highlight Recovery\", \"Highlight Rolloff\", or an ID\n"
    "  press left|right X,Y, move X,Y, release left|right X,Y\n"
    "                          the mouse over document pixel (X, Y) in the preview;\n"
    "                          press-client, move-client, release-client: the\n"
    "                          dialog's client coordinates\n"
    "  pick T,L,B,R            the eyedropper over that area, as --neutral-area\n"
    "  wheel N                 N notches over the preview (-100 to 100, not 0);\n"
    "                          positive zooms in\n"
    "  resize W H              the dialog dragged by its corner to W x H pixels\n"
    "  save-settings FILE, load-settings FILE, cancel-file-dialog\n"
    "                          (a file the filter cannot save or load fails the run)\n"
    "  screenshot FILE.png     the dialog as shown\n"
    "  leave, pump             the mouse leaves the dialog; paints happen\n"
    "\n"
    "Many files (INPUT... --output-dir DIR): each INPUT is a file or a folder,\n"
    "whose PNG, TIFF and JPEG files are taken (names starting with '.' are left\n"
    "out). Each output is named after its input, in DIR, which is made when it\n"
    "is missing:\n"
    "  --output-dir DIR        write the outputs there\n"
    "  --recursive             also take the folders' subfolders, and keep their\n"
    "                          structure under DIR\n"
    "  --suffix S              added to each output's name (photo.jpg ->\n"
    "                          photo-wb.jpg with -wb); none by default\n"
    "  --format png|tif|jpg    the outputs' format (default: each input's own)\n"
    "  --skip-existing         an output that exists is not redone\n"
    "  --jobs N                files filtered at once, each job a worker process\n"
    "                          that loads the module once (default: one per\n"
    "                          processor this process may use: those its\n"
    "                          affinity allows (taskset, a batch system's\n"
    "                          binding), at most its cgroup's CPU quota\n"
    "                          (cpu.max); 1 runs them in this process). Each\n"
    "                          worker keeps to its part of those processors,\n"
    "                          and the filter starts a render thread per\n"
    "                          processor it may use, so jobs x threads stays\n"
    "                          within them. The outputs do not depend on N.\n"
    "                          With --registry, or a --host-profile without a\n"
    "                          registry (the filter then keeps its last-used\n"
    "                          settings in its own file), each file starts from\n"
    "                          the last one's settings, so those run one file\n"
    "                          at a time\n"
    "  --report FILE.jsonl     one JSON line per file as it finishes: input,\n"
    "                          output, status, reason, seconds, settings, and\n"
    "                          warnings when there were any\n"
    "  --shard K/N             only the K-th of N parts of the sorted list of\n"
    "                          files (every N-th file from the K-th, K from 0 to\n"
    "                          N-1), for one of N machines or array jobs: every\n"
    "                          file is in exactly one part, and a part run again\n"
    "                          with --skip-existing finishes what it left\n"
    "Before any work, the run is refused when two outputs would have the same\n"
    "name, when an output is one of the inputs or a file the run reads, or when\n"
    "--recursive reads the tree DIR lies in (its outputs would be taken as\n"
    "inputs next time). --record and --side-by-side name one file and are not\n"
    "taken: record the action on one photo, then --play it on the folder.\n"
    "One file that fails does not stop the others. Each file gets a line\n"
    "(done, skipped, or FAILED with the reason, and its time), or on a terminal\n"
    "a progress bar with the failures above it; a summary ends the run:\n"
    "\"50 files: 47 done, 2 skipped, 1 failed in 12.3 s\". A cancel stops the\n"
    "workers too: files done stay done, files being filtered are discarded, and\n"
    "the summary and the report say which were not done. Metadata a file could\n"
    "not keep is named in a warning on standard error, and the file is done.\n"
    "The same correction for a whole shoot: pick the neutral area on one photo,\n"
    "then play what it recorded on the folder:\n"
    "  kestrelle apply --neutral-area 35,230,50,350 --record wb.json one.jpg c.jpg\n"
    "  kestrelle apply --play wb.json --recursive shoot --output-dir corrected\n"
    "\n"
    "Exit status: 0 success, 1 failure (with many files: any file failed), 2\n"
    "wrong command line; cancelled: 130 (Ctrl-C), 143 (SIGTERM), 129 (SIGHUP).\n";

std::string ApplyHelp() {
  std::string help = kApplyHelp;
  help += "\nHost profiles (--host-profile):\n";
  for (const host::HostProfile& p : host::HostProfiles()) {
    std::string line = "  " + std::string(p.name);
    line += std::string(line.size() < 24 ? 24 - line.size() : 1, ' ');
    help += line + p.standsFor + " (" + p.bitness + ")\n";
  }
  return help;
}

namespace {

// The bounds as a user can type them back: the lower one rounded up, so the
// printed value is itself accepted.
std::string Bound(double v, bool lower) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", v);
  if (lower && std::strtod(text, nullptr) < v) std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

bool ParseWhole(const std::string& text, long low, long high, long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != '\0' || errno != 0 || v < low || v > high) return false;
  *value = v;
  return true;
}

bool ParseRectangle(const std::string& text, VRect& r) {
  long v[4];
  const char* p = text.c_str();
  for (int i = 0; i < 4; ++i) {
    char* end = nullptr;
    errno = 0;
    v[i] = std::strtol(p, &end, 10);
    if (end == p || errno != 0 || v[i] < 0 || v[i] > 2000000000L) return false;
    if (i < 3 && *end != ',') return false;
    if (i == 3 && *end != '\0') return false;
    p = end + 1;
  }
  r = VRect{int32(v[0]), int32(v[1]), int32(v[2]), int32(v[3])};
  return r.bottom > r.top && r.right > r.left;
}

bool IsFlag(const std::string& arg) {
  return arg == "--quiet" || arg == "--dialog" || arg == "--recursive" || arg == "--skip-existing" ||
         arg == kWorkerOption;
}

// Options that only say which files a batch takes and how it runs them: a
// worker process is not given them.
bool IsBatchOption(const std::string& arg) {
  for (const char* o : {"--output-dir", "--recursive", "--suffix", "--format", "--skip-existing", "--jobs",
                        "--report", "--shard"})
    if (arg == o) return true;
  return false;
}

bool TakesValue(const std::string& arg) {
  for (const SettingOption& s : kSettingOptions)
    if (arg == s.option) return true;
  for (const char* o : {"--play", "--record", "--registry", "--module", "--side-by-side", "--selection",
                        "--neutral-area", "--ui", "--ui-steps", "--settings", "--tile", "--host-profile",
                        "--host-run", "--quality", "--output-dir", "--suffix", "--format", "--jobs", "--report", "--shard"})
    if (arg == o) return true;
  return false;
}

// "K/N" with 0 <= K < N.
bool ParseShard(const std::string& text, int* index, int* count) {
  const size_t slash = text.find('/');
  long k = 0, n = 0;
  if (slash == std::string::npos || !ParseWhole(text.substr(0, slash), 0, 1000000, &k) ||
      !ParseWhole(text.substr(slash + 1), 1, 1000000, &n) || k >= n)
    return false;
  *index = int(k);
  *count = int(n);
  return true;
}

// The batch options' own checks, once the whole line is read.
int CheckBatch(const std::vector<std::string>& positional, const std::vector<std::string>& batchGiven,
               ApplyOptions& o) {
  if (o.worker) return kSuccess;  // takes its files from standard input
  if (!o.batch()) {
    if (!batchGiven.empty()) {
      Error(batchGiven.front() + " is for several inputs: give --output-dir DIR (see kestrelle apply --help)");
      return kUsage;
    }
    if (positional.size() != 2) {
      Error("apply needs INPUT and OUTPUT, or INPUT... --output-dir DIR (see kestrelle apply --help)");
      return kUsage;
    }
    o.input = positional[0];
    o.output = positional[1];
    return kSuccess;
  }
  if (positional.empty()) {
    Error("--output-dir: no INPUT given (files or folders)");
    return kUsage;
  }
  // One file each would be written by every input: the whole-shoot way is
  // to record on one photo, then play the action on the folder.
  for (const std::string* one : {&o.record, &o.sideBySide}) {
    if (one->empty()) continue;
    Error(std::string(one == &o.record ? "--record" : "--side-by-side") +
          " names one file, which every input would write: with --output-dir, record the action on one "
          "photo first (kestrelle apply --record wb.json IN OUT), then --play it on the folder");
    return kUsage;
  }
  o.inputs = positional;
  return kSuccess;
}

}  // namespace

const char* const kWorkerOption = "--batch-worker";

namespace {

}  // namespace

bool ParseSettingValue(const std::string& text, const SettingOption& s, double* value, std::string* why) {
  const std::string range = std::string(s.label) + " takes " + Bound(s.low, true) + " to " + Bound(s.high, false);
  char* end = nullptr;
  errno = 0;
  const double v = text.empty() ? 0 : std::strtod(text.c_str(), &end);
  if (text.empty() || end == text.c_str() || *end != '\0') {
    *why = "'" + text + "' is not a number; " + range;
    return false;
  }
  if (std::isnan(v)) {
    *why = "'" + text + "' is not a number (NaN); " + range;
    return false;
  }
  // Too large for a double (1e309) comes back as infinity with ERANGE; a
  // value too small to hold comes back as (nearly) zero and is judged as that.
  if (std::isinf(v) || v < s.low || v > s.high) {
    *why = "'" + text + "' is out of range; " + range;
    return false;
  }
  *value = v;
  return true;
}

int ParseApplyOptions(const std::vector<std::string>& args, ApplyOptions& o) {
  std::vector<std::string> positional, batchGiven;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i], value;
    bool hasValue = false;
    const bool isOption = arg.size() > 2 && arg.compare(0, 2, "--") == 0;
    if (arg == "--help" || arg == "-h") {
      o.help = true;
      return kSuccess;
    }
    if (!isOption) {
      positional.push_back(arg);
      continue;
    }
    if (arg.find('=') != std::string::npos) {
      value = arg.substr(arg.find('=') + 1);
      arg = arg.substr(0, arg.find('='));
      hasValue = true;
    }
    // An unknown option is named as unknown wherever it stands, not as one
    // that lacks a value.
    if (!IsFlag(arg) && !TakesValue(arg)) {
      if (arg == "--version")
        Error("apply has no --version option (kestrelle --version shows the version)");
      else
        Error("unknown option " + arg + " (see kestrelle apply --help)");
      return kUsage;
    }
    if (IsBatchOption(arg)) batchGiven.push_back(arg);
    if (arg == kWorkerOption && hasValue) {
      // "--batch-worker=K/N": the K-th of N workers, which keeps to its part
      // of the processors.
      int share = 0, shares = 0;
      if (!ParseShard(value, &share, &shares)) {
        Error(arg + ": '" + value + "' is not K/N");
        return kUsage;
      }
      o.worker = true;
      o.workerShare = share;
      o.workerShares = shares;
      continue;
    }
    if (IsFlag(arg)) {
      if (hasValue) {
        Error(arg + " takes no value");
        return kUsage;
      }
      if (arg == "--quiet") o.quiet = true;
      if (arg == "--dialog") o.dialog = true;
      if (arg == "--recursive") o.recursive = true;
      if (arg == "--skip-existing") o.skipExisting = true;
      if (arg == kWorkerOption) o.worker = true;
      if (!IsBatchOption(arg) && arg != kWorkerOption) o.sessionArgs.push_back(arg);
      continue;
    }
    if (!hasValue) {
      if (i + 1 >= args.size()) {
        Error(arg + " needs a value");
        return kUsage;
      }
      value = args[++i];
    }
    if (!IsBatchOption(arg)) {
      o.sessionArgs.push_back(arg);
      o.sessionArgs.push_back(value);
    }
    bool setting = false;
    for (const SettingOption& s : kSettingOptions) {
      if (arg != s.option) continue;
      setting = true;
      double v = 0;
      std::string why;
      if (!ParseSettingValue(value, s, &v, &why)) {
        Error(arg + ": " + why);
        return kUsage;
      }
      o.settings.PutFloat(s.key, v);
    }
    if (setting) continue;
    if (value.empty() && arg != "--ui-steps" && arg != "--suffix") {
      Error(arg + " needs a value");
      return kUsage;
    }
    if (arg == "--play") {
      o.play = value;
    } else if (arg == "--record") {
      o.record = value;
    } else if (arg == "--registry") {
      o.registry = value;
    } else if (arg == "--module") {
      o.module = value;
    } else if (arg == "--side-by-side") {
      o.sideBySide = value;
    } else if (arg == "--selection" || arg == "--neutral-area") {
      VRect& r = arg == "--selection" ? o.selection : o.neutralArea;
      if (!ParseRectangle(value, r)) {
        Error(arg + ": '" + value + "' is not TOP,LEFT,BOTTOM,RIGHT with TOP < BOTTOM and LEFT < RIGHT");
        return kUsage;
      }
      (arg == "--selection" ? o.hasSelection : o.hasNeutralArea) = true;
    } else if (arg == "--ui") {
      o.uiFile = value;
    } else if (arg == "--ui-steps") {
      o.uiSteps = value;
    } else if (arg == "--settings") {
      o.settingsFile = value;
    } else if (arg == "--tile") {
      long v = 0;
      if (!ParseWhole(value, 1, 32767, &v)) {
        Error("--tile: '" + value + "' is not a whole number from 1 to 32767");
        return kUsage;
      }
      o.tile = int(v);
      o.tileGiven = true;
    } else if (arg == "--quality") {
      long v = 0;
      if (!ParseWhole(value, 1, 100, &v)) {
        Error("--quality: '" + value + "' is not a whole number from 1 to 100");
        return kUsage;
      }
      o.quality = int(v);
    } else if (arg == "--output-dir") {
      o.outputDir = value;
    } else if (arg == "--suffix") {
      if (value.find_first_of("/\\") != std::string::npos) {
        Error("--suffix: '" + value + "' is added to file names and cannot hold a folder separator");
        return kUsage;
      }
      o.suffix = value;
    } else if (arg == "--format") {
      if (value != "png" && value != "tif" && value != "jpg") {
        Error("--format: '" + value + "' is not png, tif or jpg");
        return kUsage;
      }
      o.format = value;
    } else if (arg == "--jobs") {
      long v = 0;
      if (!ParseWhole(value, 1, 256, &v)) {
        Error("--jobs: '" + value + "' is not a whole number from 1 to 256");
        return kUsage;
      }
      o.jobs = int(v);
      o.jobsGiven = true;
    } else if (arg == "--report") {
      o.report = value;
    } else if (arg == "--shard") {
      if (!ParseShard(value, &o.shardIndex, &o.shardCount)) {
        Error("--shard: '" + value + "' is not K/N with N parts and K counted from 0 (0/4 to 3/4)");
        return kUsage;
      }
    } else if (arg == "--host-profile") {
      if (host::FindHostProfile(value) == nullptr) {
        std::string names;
        for (const host::HostProfile& p : host::HostProfiles()) names += (names.empty() ? "" : ", ") + std::string(p.name);
        Error("--host-profile: no host '" + value + "'; the hosts are " + names);
        return kUsage;
      }
      o.hostProfile = value;
    } else if (arg == "--host-run") {
      host::HostRun run;
      if (!host::ParseHostRun(value, &run)) {
        Error("--host-run: '" + value + "' is not interactive, scripted or repeat");
        return kUsage;
      }
      o.hostRun = host::HostRunName(run);
    }
  }
  return CheckBatch(positional, batchGiven, o);
}

}  // namespace cli
