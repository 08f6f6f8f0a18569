#include "apply_options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "../host_profiles.h"
#include "cli.h"

namespace cli {

const SettingOption kSettingOptions[kSettingOptionCount] = {
    {"--red-gain", FourCharCode("brgH"), "R Gain", 0.00392156862745098, 1000},
    {"--red-gain-fine", FourCharCode("conT"), "R Gain (fine)", -100, 100},
    {"--green-gain", FourCharCode("bAdj"), "G Gain", 0.00392156862745098, 1000},
    {"--green-gain-fine", FourCharCode("satU"), "G Gain (fine)", -100, 100},
    {"--blue-gain", FourCharCode("lumC"), "B Gain", 0.00392156862745098, 1000},
    {"--blue-gain-fine", FourCharCode("Rcoe"), "B Gain (fine)", -100, 100},
    {"--highlight-recovery", FourCharCode("Gcoe"), "Highlight Recovery", 0, 100},
    {"--highlight-rolloff", FourCharCode("Bcoe"), "Highlight Rolloff", 0, 10000},
};

const char* const kApplyHelp =
    "Usage: kestrelle apply [options] INPUT OUTPUT\n"
    "\n"
    "Filters INPUT with the Kestrelle module and writes the result to OUTPUT.\n"
    "PNG (8 and 16 bits, grey or RGB), TIFF (8, 16 and 32-bit float, grey or\n"
    "RGB) and JPEG (8-bit grey or RGB) are read; OUTPUT's format follows its\n"
    "extension (.png, .tif, .tiff, .jpg, .jpeg) and keeps the input's bit depth\n"
    "where it can hold it. An alpha channel is kept and not filtered. The ICC\n"
    "profile, EXIF, XMP, IPTC, text tags and resolution are kept wherever the\n"
    "output format can hold them.\n"
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
    "Exit status: 0 success, 1 failure, 2 wrong command line; cancelled: 130\n"
    "(Ctrl-C), 143 (SIGTERM), 129 (SIGHUP).\n";

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

bool IsFlag(const std::string& arg) { return arg == "--quiet" || arg == "--dialog"; }

bool TakesValue(const std::string& arg) {
  for (const SettingOption& s : kSettingOptions)
    if (arg == s.option) return true;
  for (const char* o : {"--play", "--record", "--registry", "--module", "--side-by-side", "--selection",
                        "--neutral-area", "--ui", "--ui-steps", "--settings", "--tile", "--host-profile",
                        "--quality"})
    if (arg == o) return true;
  return false;
}

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
  std::vector<std::string> positional;
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
    if (IsFlag(arg)) {
      if (hasValue) {
        Error(arg + " takes no value");
        return kUsage;
      }
      (arg == "--quiet" ? o.quiet : o.dialog) = true;
      continue;
    }
    if (!hasValue) {
      if (i + 1 >= args.size()) {
        Error(arg + " needs a value");
        return kUsage;
      }
      value = args[++i];
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
    if (value.empty() && arg != "--ui-steps") {
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
    } else if (arg == "--host-profile") {
      if (host::FindHostProfile(value) == nullptr) {
        std::string names;
        for (const host::HostProfile& p : host::HostProfiles()) names += (names.empty() ? "" : ", ") + std::string(p.name);
        Error("--host-profile: no host '" + value + "'; the hosts are " + names);
        return kUsage;
      }
      o.hostProfile = value;
    }
  }
  if (positional.size() != 2) {
    Error("apply needs INPUT and OUTPUT (see kestrelle apply --help)");
    return kUsage;
  }
  o.input = positional[0];
  o.output = positional[1];
  return kSuccess;
}

}  // namespace cli
