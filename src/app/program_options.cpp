#include "app/program_options.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

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
    "Usage: lumora [--headless [--work-area WxH+X+Y] | --automation] [--show-updates]\n"
    "              [--] [SERVER-LIST-URL MODE]\n"
    "Shows the digital bookshelf: the shop's catalogues, the user's shelf and local\n"
    "books, downloads, and the program's own updates.\n"
    "\n"
    "  SERVER-LIST-URL MODE  where the updater fetches its list of update servers; the\n"
    "                     mode \"auto\" starts updating at once (the words are joined\n"
    "                     by single spaces; a URL alone is ignored)\n"
    "      --headless     run without a display, driven by JSON Lines on standard input\n"
    "                     and output\n"
    "      --work-area=WxH+X+Y  the headless work area (default 1280x1024+0+0; sizes 1\n"
    "                     to 32767, positions -32768 to 32767)\n"
    "      --automation   on the desktop, accept a WebDriver session (WebKitWebDriver,\n"
    "                     browser options {\"binary\": PROGRAM, \"args\": [\"--automation\"]})\n"
    "                     that drives the program's own web view\n"
    "      --show-updates show the update window at start (F2 shows it later)\n"
    "  -h, --help         display this help and exit\n"
    "      --version      output version information and exit\n"
    "\n"
    "On the desktop the toolkit's own options (--display DISPLAY and the like) are\n"
    "accepted too. Exit status: 0 when the user quits, 1 when the program cannot run\n"
    "(no display, an unusable folder), 2 for a mistake in the arguments.\n";

constexpr const char* kVersion = "lumora " LUMORA_VERSION "\n";

// How an argument that begins with "-" is read.
enum class Kind {
  kUnknown,
  kFlag,          // one of the program's options without a value
  kValue,         // one of the program's options with a value
  kToolkit,       // an option of the desktop toolkit without a value
  kToolkitValue,  // an option of the desktop toolkit with a value
};

Kind KindOf(std::string_view name) {
  for (const char* flag :
       {"--headless", "--automation", "--show-updates", "--help", "-h", "--version"})
    if (name == flag) return Kind::kFlag;
  if (name == "--work-area") return Kind::kValue;
  // GTK's and GDK's own, which the desktop takes out of the arguments itself.
  if (name == "--g-fatal-warnings") return Kind::kToolkit;
  for (const char* option : {"--display", "--class", "--name", "--gtk-module", "--gtk-debug",
                             "--gtk-no-debug", "--gdk-debug", "--gdk-no-debug"})
    if (name == option) return Kind::kToolkitValue;
  return Kind::kUnknown;
}

// Walks the arguments in order. Each of the program's options goes to |on_option| with
// its value (after "=" or the next argument); walking stops when it answers false.
// Every word of the program's own command line goes to |on_word|. The toolkit's options
// are passed over when |toolkit| is set (the desktop takes them out later) and unknown
// otherwise. False, with |error| set, at the first mistake.
template <typename OnOption, typename OnWord>
bool Walk(int argc, char** argv, bool toolkit, OnOption on_option, OnWord on_word,
          std::string* error) {
  bool words_only = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (words_only || arg.size() < 2 || arg[0] != '-') {
      on_word(argv[i]);
      continue;
    }
    if (arg == "--") {
      words_only = true;
      continue;
    }
    const std::size_t equals = arg.starts_with("--") ? arg.find('=') : std::string_view::npos;
    const std::string_view name = arg.substr(0, equals);
    const bool has_value = equals != std::string_view::npos;
    const Kind kind = KindOf(name);
    if (kind == Kind::kUnknown ||
        (!toolkit && (kind == Kind::kToolkit || kind == Kind::kToolkitValue))) {
      *error = "unrecognized option '" + std::string(arg) + "'";
      return false;
    }
    if ((kind == Kind::kFlag || kind == Kind::kToolkit) && has_value) {
      *error = "option '" + std::string(name) + "' doesn't allow an argument";
      return false;
    }
    std::string_view value;
    if (kind == Kind::kValue || kind == Kind::kToolkitValue) {
      if (has_value) {
        value = arg.substr(equals + 1);
      } else if (i + 1 < argc) {
        value = argv[++i];
      } else {
        *error = "option '" + std::string(name) + "' requires an argument";
        return false;
      }
    }
    if ((kind == Kind::kFlag || kind == Kind::kValue) && !on_option(name, value)) return true;
  }
  return true;
}

bool Fail(ProgramOptions* options, std::string error) {
  options->error = std::move(error);
  options->bad_usage = true;
  options->face.reset();
  return false;
}

// The program's own options, read before any display is asked for. The first of
// --help, --version and a mistake decides.
bool ReadOwnOptions(int argc, char** argv, ProgramOptions* options) {
  std::string error;
  std::string bad_value;
  const auto on_option = [&](std::string_view name, std::string_view value) {
    if (name == "--help" || name == "-h") options->help = true;
    if (name == "--version") options->version = true;
    if (name == "--headless") options->headless = true;
    if (name == "--automation") options->automation = true;
    if (name == "--show-updates") options->show_updates = true;
    if (name == "--work-area" && !ParseWorkArea(std::string(value).c_str(), &options->work_area))
      bad_value = name;
    return !options->help && !options->version && bad_value.empty();
  };
  if (!Walk(
          argc, argv, true, on_option, [](const char*) {}, &error))
    return Fail(options, error);
  if (options->help || options->version) return true;
  if (!bad_value.empty())
    return Fail(options,
                "--work-area takes WxH+X+Y, e.g. 1280x1024+0+0, with sizes from 1 to 32767 and "
                "positions from -32768 to 32767");
  if (options->headless && options->automation)
    return Fail(options,
                "--automation drives the desktop's web view; --headless has its own interface "
                "on standard input and output");
  return true;
}

}  // namespace

const char* ProgramUsage() { return kUsage; }

const char* ProgramVersion() { return kVersion; }

ProgramOptions ReadProgramOptions(int* argc, char*** argv, const DesktopFactory& make_desktop) {
  ProgramOptions options;
  if (!ReadOwnOptions(*argc, *argv, &options) || options.help || options.version) return options;

  // The desktop toolkit takes its own options out of the argument list first; what
  // remains is the program's, and anything else that looks like an option is a mistake.
  if (!options.headless) {
    if (base::Status made = make_desktop(argc, argv, &options.face); !made.ok()) {
      options.error = made.message();
      return options;
    }
  }
  std::string error;
  const auto on_word = [&options](const char* word) {
    if (!options.command_line.empty()) options.command_line += ' ';
    options.command_line += word;
  };
  if (!Walk(
          *argc, *argv, false, [](std::string_view, std::string_view) { return true; }, on_word,
          &error)) {
    Fail(&options, error);
    return options;
  }
  if (options.headless)
    options.face = platform::CreateHeadlessPlatform(0, stdout, options.work_area);
  return options;
}

}  // namespace app
