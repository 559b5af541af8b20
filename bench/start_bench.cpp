// Start-up of the program as a whole process, side by side with an anchor in the same
// rounds: the time from the start of the process to its first wanted line on standard
// output, to its end, and its peak resident memory.
//
//   build/bench/start_bench [RUNS [BASELINE]]
//
// Cases, each run once per round in turn (the first round warms the caches and is not
// counted):
//   anchor     start_anchor: one line printed by a program linked with GLib, GIO,
//              libcurl, libxml2 and TinyXML alone
//   headless   lumora --headless with its input on /dev/null: to the first variable
//   --help     lumora --help: to its first line
//   --version  lumora --version: to its first line (when the program has the option)
//   baseline   BASELINE --headless, another build of the program, the same way
// Printed: each case's medians, and per case the median of the round-by-round ratios
// of its time to the anchor's and the median difference of its peak memory from the
// anchor's.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Case {
  std::string name;
  std::vector<std::string> argv;
  std::string wanted;  // the first output line holding this ends the start
  std::vector<double> first_ms, end_ms, peak_mib;
};

struct Run {
  bool ok = false;
  double first_ms = 0, end_ms = 0, peak_mib = 0;
};

// Starts |argv| in |cwd| with its input on /dev/null and its errors thrown away.
Run Time(const std::vector<std::string>& argv, const std::string& wanted, const std::string& cwd) {
  Run run;
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return run;
  const Clock::time_point start = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(out[1], 1);
    dup2(null, 2);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(out[1]);
  std::string line;
  bool found = false;
  char buffer[4096];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) {
    for (ssize_t i = 0; i < n && !found; ++i) {
      if (buffer[i] != '\n') {
        line += buffer[i];
        continue;
      }
      if (line.find(wanted) != std::string::npos) {
        found = true;
        run.first_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      }
      line.clear();
    }
  }
  close(out[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  run.end_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  run.peak_mib = static_cast<double>(usage.ru_maxrss) / 1024.0;
  run.ok = found && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return run;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  // The program runs with folders of its own, no server to reach and no display (a
  // program without an option of those tried ends instead of opening its window).
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  TempDir home;
  home.MakeDir("work");
  setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
  for (const char* name : {"LUMORA_SHOP_HOST", "LUMORA_LOGIN_HOST"}) setenv(name, "127.0.0.1:1", 1);
  const std::string cwd = home / "work";

  std::vector<Case> cases = {
      {"anchor", {START_ANCHOR}, "", {}, {}, {}},
      {"headless", {LUMORA_BINARY, "--headless"}, "\"setVariable\"", {}, {}, {}},
  };
  // An option is timed only where the program has it.
  for (const char* option : {"--help", "--version"})
    if (Time({LUMORA_BINARY, option}, "", cwd).ok)
      cases.push_back({option, {LUMORA_BINARY, option}, "", {}, {}, {}});
  if (argc > 2)
    cases.push_back({"baseline", {argv[2], "--headless"}, "\"setVariable\"", {}, {}, {}});

  for (int round = 0; round <= runs; ++round) {
    for (Case& c : cases) {
      Run run = Time(c.argv, c.wanted, cwd);
      if (!run.ok) {
        std::fprintf(stderr, "start_bench: %s did not print its line or failed\n", c.name.c_str());
        return 1;
      }
      if (round == 0) continue;
      c.first_ms.push_back(run.first_ms);
      c.end_ms.push_back(run.end_ms);
      c.peak_mib.push_back(run.peak_mib);
    }
  }

  const Case& anchor = cases.front();
  std::printf("start-up as a whole process, medians of %d rounds (one warm-up round dropped)\n",
              runs);
  std::printf("%-10s %12s %10s %10s %14s %14s\n", "case", "first line", "end", "peak",
              "first / anchor", "peak - anchor");
  for (const Case& c : cases) {
    std::vector<double> ratio, extra;
    for (std::size_t i = 0; i < c.first_ms.size(); ++i) {
      ratio.push_back(c.first_ms[i] / anchor.first_ms[i]);
      extra.push_back(c.peak_mib[i] - anchor.peak_mib[i]);
    }
    std::printf("%-10s %9.2f ms %7.2f ms %6.1f MiB %14.2f %10.1f MiB\n", c.name.c_str(),
                Median(c.first_ms), Median(c.end_ms), Median(c.peak_mib), Median(ratio),
                Median(extra));
  }
  return 0;
}
