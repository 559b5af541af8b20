// The program's command line:
//
//   lumora [--headless [--work-area WxH+X+Y] | --automation] [--show-updates]
//          [--] [SERVER-LIST-URL MODE]
//   lumora --help | --version
//
// The words after the options form the program's own command line, joined by single
// spaces (give it as one quoted argument to keep other spacing); after "--" every word
// belongs to it, also one that begins with "-". A value may follow its option as the
// next argument or after "=" (--work-area=800x570+0+0). On the desktop the toolkit takes
// its own options (--display and the like) out of the arguments before the program's own
// words are read. Any other word that begins with "-" is refused as an unknown option.
#ifndef LUMORA_APP_PROGRAM_OPTIONS_H_
#define LUMORA_APP_PROGRAM_OPTIONS_H_

#include <functional>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace app {

struct ProgramOptions {
  bool help = false;
  bool version = false;
  bool headless = false;
  bool show_updates = false;  // --show-updates: the update window starts shown
  // --automation: the desktop face accepts a WebDriver session (WebKitWebDriver) that
  // drives the program's own web view. The desktop factory reads the option itself.
  bool automation = false;
  platform::Rect work_area{0, 0, 1280, 1024};
  std::string command_line;
  std::unique_ptr<platform::Platform> face;  // the platform to run on
  std::string error;                         // set when the program cannot start
  bool bad_usage = false;                    // the error is in the arguments
};

// Makes the desktop face from the arguments, taking out the toolkit's options; fails
// when there is no display.
using DesktopFactory =
    std::function<base::Status(int* argc, char*** argv, std::unique_ptr<platform::Platform>* face)>;

// Reads the arguments and makes the face the program runs on: the headless face for
// --headless, otherwise the desktop made by |make_desktop|. Nothing is made for --help,
// --version or when |error| is set; a mistake in the arguments is found before any
// display is asked for.
ProgramOptions ReadProgramOptions(int* argc, char*** argv, const DesktopFactory& make_desktop);

// The text of --help.
const char* ProgramUsage();
// The text of --version.
const char* ProgramVersion();

}  // namespace app

#endif  // LUMORA_APP_PROGRAM_OPTIONS_H_
