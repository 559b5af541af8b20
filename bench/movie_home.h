// The home folder the movie benchmarks start the program in: a data folder holding the
// sample shelf, the program and its desktop module, a baseline build beside them, and
// an environment that points the program there and at no server.
#ifndef LUMORA_BENCH_MOVIE_HOME_H_
#define LUMORA_BENCH_MOVIE_HOME_H_

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/lumora_process.h"
#include "support/temp_dir.h"

namespace movie_bench {

// Makes |home|'s data folder with the sample shelf and its settings; its public folder.
inline std::string MakeDataFolder(const TempDir& home) {
  namespace fs = std::filesystem;
  const fs::path res = fs::path(LUMORA_SOURCE_DIR) / "res";
  const std::string public_dir = home / "data/vellari/public";
  fs::create_directories(public_dir);
  fs::copy(res / "sample", public_dir, fs::copy_options::recursive);
  fs::copy(res / "settings" / "vellariInfo.xml", public_dir + "/vellariInfo.xml");
  return public_dir;
}

// Installs the program under test in |home|/program; its path.
inline std::string InstallProgramIn(const TempDir& home) {
  const std::string program_dir = home / "program";
  std::filesystem::create_directories(program_dir);
  return InstallProgram(program_dir);
}

// Copies the build |from| (with its desktop module, if it has one beside it) into a
// folder of its own in |home|; the copy's path. It is started from the same program
// folder as the program under test.
inline std::string InstallBaseline(const TempDir& home, const std::string& from_path) {
  namespace fs = std::filesystem;
  const fs::path from(from_path), folder = home / "baseline";
  fs::create_directories(folder);
  const std::string baseline = (folder / "lumora").string();
  fs::copy_file(from, baseline);
  const fs::path module = from.parent_path() / fs::path(LUMORA_DESKTOP_MODULE).filename();
  if (fs::exists(module)) fs::copy_file(module, folder / module.filename());
  return baseline;
}

// Points the programs started from here at |home|'s folders, and at no server: the
// program never waits on the network for its catalogue.
inline void UseHome(const TempDir& home) {
  for (const char* name : {"LUMORA_SHOP_HOST", "LUMORA_LOGIN_HOST", "LUMORA_SHARE_HOST_1",
                           "LUMORA_SHARE_HOST_2", "LUMORA_SHARE_HOST_3"})
    setenv(name, "127.0.0.1:9", 1);
  setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
}

}  // namespace movie_bench

#endif  // LUMORA_BENCH_MOVIE_HOME_H_
