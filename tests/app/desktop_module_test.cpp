// The desktop face as a module beside the program: a headless run never loads it, and a
// program whose module is missing, broken, foreign or of another build says so and ends.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "../support/lumora_process.h"
#include "../support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// The libraries of the desktop and of the web engine's media: none may be mapped into
// a headless run.
constexpr const char* kDesktopLibraries[] = {
    "lumora-desktop.so",     "libgtk-3.so",   "libgdk-3.so", "libwebkit2gtk-",
    "libjavascriptcoregtk-", "libgstreamer-", "libsoup-",    "libX11.so"};

bool AnyMapped(const std::set<std::string>& files, const std::string& name) {
  for (const std::string& file : files)
    if (file.find(name) != std::string::npos) return true;
  return false;
}

TEST(DesktopModuleTest, AHeadlessRunMapsNoDesktopLibrary) {
  TempDir home;
  const std::string program = ProgramCopy();
  int in[2], out[2];
  ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    if (chdir(home.path().c_str()) != 0) _exit(126);
    setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    setenv("LUMORA_SHOP_HOST", "127.0.0.1:1", 1);
    setenv("LUMORA_LOGIN_HOST", "127.0.0.1:1", 1);
    execl(program.c_str(), "lumora", "--headless", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  // Its first line comes once it has started; its input is still open, so it runs on
  // while its maps are read.
  std::string first;
  for (char c; read(out[0], &c, 1) == 1 && c != '\n';) first += c;
  const std::set<std::string> files = MappedFiles(pid);
  close(in[1]);  // the end of its input ends it
  for (char c; read(out[0], &c, 1) == 1;) {
  }
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_NE(first.find("\"movie\""), std::string::npos) << first;
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  // The libraries the headless program is made of are seen there.
  for (const char* name :
       {"libglib-2.0.so", "libgio-2.0.so", "libcurl.so", "libxml2.so", "libtinyxml.so"})
    EXPECT_TRUE(AnyMapped(files, name)) << name;
  for (const char* name : kDesktopLibraries) EXPECT_FALSE(AnyMapped(files, name)) << name;
}

// Runs |program| on the desktop, with no display.
LumoraRun RunDesktopWithoutDisplay(const std::string& program) {
  LumoraOptions options;
  options.binary = program;
  options.headless = false;
  options.env = {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"GDK_BACKEND", "x11"}};
  return RunLumora(options, {});
}

// The program alone in |folder|, without its module.
std::string ProgramAloneIn(const TempDir& folder) {
  const std::string program = folder / "lumora";
  fs::copy_file(ProgramCopy(), program);
  return program;
}

TEST(DesktopModuleTest, TheDesktopLoadsItsModuleAndThenNeedsADisplay) {
  // The module beside the program loads: the desktop itself finds no display.
  LumoraRun run = RunDesktopWithoutDisplay(ProgramCopy());
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.stderr_text,
            "lumora: cannot open a display (set DISPLAY, or run with --headless)\n");
  EXPECT_TRUE(run.raw.empty());
}

TEST(DesktopModuleTest, AMissingOrBrokenModuleIsNamedAndTheProgramEnds) {
  TempDir folder;
  const std::string program = ProgramAloneIn(folder);
  const std::string module = folder / "lumora-desktop.so";

  LumoraRun missing = RunDesktopWithoutDisplay(program);
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.stderr_text, "lumora: the desktop module " + module +
                                     " is missing (install the program again, or run it "
                                     "with --headless)\n");

  // A file that is no shared object, a folder, and a link to nothing.
  folder.Write("lumora-desktop.so",
               "\x7f"
               "ELF but no more");
  LumoraRun broken = RunDesktopWithoutDisplay(program);
  EXPECT_EQ(broken.exit_code, 1);
  EXPECT_EQ(broken.stderr_text.rfind("lumora: cannot load the desktop module: " + module + ": ", 0),
            0u)
      << broken.stderr_text;
  fs::remove(module);
  fs::create_directory(module);
  LumoraRun folder_run = RunDesktopWithoutDisplay(program);
  EXPECT_EQ(folder_run.exit_code, 1);
  EXPECT_NE(folder_run.stderr_text.find("cannot load the desktop module: " + module),
            std::string::npos)
      << folder_run.stderr_text;
  fs::remove(module);
  fs::create_symlink(folder / "nowhere.so", module);
  LumoraRun dangling = RunDesktopWithoutDisplay(program);
  EXPECT_EQ(dangling.exit_code, 1);
  EXPECT_NE(dangling.stderr_text.find("cannot load the desktop module: " + module),
            std::string::npos)
      << dangling.stderr_text;

  // The headless program needs no module.
  LumoraOptions headless;
  headless.binary = program;
  EXPECT_EQ(RunLumora(headless, {}).exit_code, 0);
}

TEST(DesktopModuleTest, AForeignModuleOrOneOfAnotherBuildIsNeverCalled) {
  TempDir folder;
  const std::string program = ProgramAloneIn(folder);
  const std::string module = folder / "lumora-desktop.so";

  // A shared object without the module's entry points.
  fs::copy_file(FOREIGN_LIBRARY, module);
  LumoraRun foreign = RunDesktopWithoutDisplay(program);
  EXPECT_EQ(foreign.exit_code, 1);
  EXPECT_EQ(foreign.stderr_text,
            "lumora: " + module + " is not a desktop module of this program\n");

  // The entry points with another interface digest: its factory would end the process
  // with code 77.
  fs::remove(module);
  fs::copy_file(OTHER_BUILD_MODULE, module);
  LumoraRun other = RunDesktopWithoutDisplay(program);
  EXPECT_EQ(other.exit_code, 1);
  EXPECT_EQ(other.stderr_text, "lumora: the desktop module " + module +
                                   " belongs to another build of the program (install the "
                                   "program again)\n");
}

}  // namespace
