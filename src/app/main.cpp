// lumora [--headless [--work-area WxH+X+Y] | --automation] [--show-updates]
//        [SERVER-LIST-URL MODE]
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/deployment_settings.h"
#include "app/lumora_app.h"
#include "app/lumora_dlg.h"
#include "app/program_options.h"
#include "base/folders.h"
#include "platform/desktop_module.h"
#include "platform/platform.h"

namespace {

// Makes sure descriptors 0, 1 and 2 are open (on /dev/null when the caller closed
// them), before anything else of the process opens a descriptor: otherwise the first
// descriptor opened (the main loop's wake-up, a catalogue file) would take the place
// of standard input or output.
__attribute__((constructor(101))) void OpenStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
}

// Whether |program_file| still names the file this process runs (the program file may
// have been replaced since it was started).
bool RunsFrom(const std::string& program_file) {
  struct stat running, named;
  if (::stat("/proc/self/exe", &running) != 0 || ::stat(program_file.c_str(), &named) != 0)
    return true;
  return running.st_dev == named.st_dev && running.st_ino == named.st_ino;
}

// Starts |program_file| again in this process's place with |args|. Nothing this
// process opened goes on into the new program: a descriptor the toolkit or a library
// left without close-on-exec (a display connection, a lock) would stay open there, and
// a lock still held would make the new program a later start of itself. Standard
// input, output and error go on: the rest of the automation input is the new
// program's. Returns only when that fails, having said why.
void StartAgain(const std::string& program_file, std::vector<std::string> args) {
  std::fflush(nullptr);
  if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
    std::fprintf(stderr, "lumora: cannot start again: %s\n", std::strerror(errno));
    return;
  }
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  ::execv(program_file.c_str(), argv.data());
  std::fprintf(stderr, "lumora: cannot start %s again: %s\n", program_file.c_str(),
               std::strerror(errno));
}

}  // namespace

int main(int argc, char** argv) {
  // What a restart starts again: the program file as it is named now (an update may
  // replace it meanwhile) with the original arguments.
  const std::string program_file = base::ProgramFile();
  std::vector<std::string> original_args(argv, argv + argc);
  // A file size limit (ulimit -f) makes a write past it fail with EFBIG, so that the
  // write that fails is reported, instead of ending the whole program.
  std::signal(SIGXFSZ, SIG_IGN);
  // On the desktop, a release that a kill stopped half-way through its renames is
  // completed before the desktop module is loaded, so that the program file and the
  // module are of one release; when that put a new program file in place of this one,
  // the new program is started in this one's place, to load the module of its build.
  const auto load_desktop = [&](int* desktop_argc, char*** desktop_argv,
                                std::unique_ptr<platform::Platform>* face) {
    if (app::CompleteInterruptedRelease() && !RunsFrom(program_file))
      StartAgain(program_file, original_args);
    return platform::LoadDesktopPlatform(desktop_argc, desktop_argv, face);
  };
  app::ProgramOptions options = app::ReadProgramOptions(&argc, &argv, load_desktop);
  if (options.help || options.version) {
    std::fputs(options.help ? app::ProgramUsage() : app::ProgramVersion(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (!options.face) {
    std::fprintf(stderr, "lumora: %s\n", options.error.c_str());
    if (!options.bad_usage) return 1;
    std::fputs("Try 'lumora --help' for more information.\n", stderr);
    return 2;
  }
  app::CLumoraApp application(app::DeploymentSettings::Load(program_file));
  application.set_show_updates(options.show_updates);
  const int code = application.InitInstance(*options.face, options.command_line);
  if (!application.restart_requested()) return code;
  // The face goes first (its windows, its claim of the instance); then the new program
  // takes this process's place.
  options.face.reset();
  StartAgain(program_file, original_args);
  return 1;
}
