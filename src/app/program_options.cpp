#include "app/program_options.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace app {

namespace {

// One integer of a geometry, within [low, high]; |text| moves past it.
bool ReadGeometryNumber(const char** text, long low, long high, int* value) {
  if (!std::isdigit(static_cast<unsigned char>(**text)) && **text != '-') return false;
  errno = 0;
  char* end = nullptr;
  long n = std::strtol(*text, &end, 10);
  if (end == *text || errno == ERANGE || n < low || n > high) return false;
  *text = end;
  *value = static_cast<int>(n);
  return true;
}

// WxH+X+Y, with sizes and positions as the X protocol allows them (sizes 1 to 32767,
// positions -32768 to 32767), so that no edge overflows.
bool ParseWorkArea(const char* text, platform::Rect* rect) {
  int w, h, x, y;
  if (!ReadGeometryNumber(&text, 1, 32767, &w) || *text++ != 'x' ||
      !ReadGeometryNumber(&text, 1, 32767, &h) || *text++ != '+' ||
      !ReadGeometryNumber(&text, -32768, 32767, &x) || *text++ != '+' ||
      !ReadGeometryNumber(&text, -32768, 32767, &y) || *text != '\0')
    return false;
  *rect = platform::Rect{x, y, x + w, y + h};
  return true;
}

constexpr const char* kUsage =
    "usage: lumora [--headless [--work-area WxH+X+Y] | --automation] [--show-updates]\n"
    "              [SERVER-LIST-URL MODE]\n"
    "  --headless         run without a display, driven by JSON Lines on stdin/stdout\n"
    "  --work-area GEOM   the headless work area (default 1280x1024+0+0; sizes 1 to\n"
    "                     32767, positions -32768 to 32767)\n"
    "  --automation       on the desktop, accept a WebDriver session (WebKitWebDriver,\n"
    "                     browser options {\"binary\": PROGRAM, \"args\": [\"--automation\"]})\n"
    "                     that drives the program's own web view\n"
    "  --show-updates     show the update window at start (F2 shows it later)\n";

bool IsOption(const char* arg, const char* option) { return std::strcmp(arg, option) == 0; }

}  // namespace

const char* ProgramUsage() { return kUsage; }

ProgramOptions ReadProgramOptions(int* argc, char*** argv, const DesktopFactory& make_desktop) {
  ProgramOptions options;
  for (int i = 1; i < *argc; ++i) {
    if (IsOption((*argv)[i], "--help")) options.help = true;
    if (IsOption((*argv)[i], "--headless")) options.headless = true;
    if (IsOption((*argv)[i], "--automation")) options.automation = true;
  }
  if (options.help) return options;
  if (options.headless && options.automation) {
    options.error =
        "--automation drives the desktop's web view; --headless has its own interface on "
        "standard input and output";
    options.bad_usage = true;
    return options;
  }

  // The desktop toolkit takes its own options out of the argument list first; what
  // remains is the program's.
  if (!options.headless) {
    if (platform::Status made = make_desktop(argc, argv, &options.face); !made.ok()) {
      options.error = made.message();
      return options;
    }
  }

  for (int i = 1; i < *argc; ++i) {
    const char* arg = (*argv)[i];
    if (IsOption(arg, "--headless") || IsOption(arg, "--automation")) continue;
    if (IsOption(arg, "--show-updates")) {
      options.show_updates = true;
      continue;
    }
    if (IsOption(arg, "--work-area")) {
      if (i + 1 >= *argc || !ParseWorkArea((*argv)[i + 1], &options.work_area)) {
        options.error =
            "--work-area takes WxH+X+Y, e.g. 1280x1024+0+0, with sizes from 1 to 32767 and "
            "positions from -32768 to 32767";
        options.bad_usage = true;
        options.face.reset();
        return options;
      }
      ++i;
      continue;
    }
    if (!options.command_line.empty()) options.command_line += ' ';
    options.command_line += arg;
  }
  if (options.headless)
    options.face = platform::CreateHeadlessPlatform(0, stdout, options.work_area);
  return options;
}

}  // namespace app
