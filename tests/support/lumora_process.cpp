#include "lumora_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "temp_dir.h"

std::vector<Json> LumoraRun::All(const std::string& key) const {
  std::vector<Json> found;
  for (const Json& e : events)
    if (e.is_object() && e.contains(key)) found.push_back(e[key]);
  return found;
}

std::string LumoraRun::Variable(const std::string& name) const {
  std::string value = "<unset>";
  for (const Json& e : All("setVariable"))
    if (e["name"] == name) value = e["value"];
  return value;
}

std::size_t LumoraRun::IndexOf(const std::string& key, std::size_t from) const {
  for (std::size_t i = from; i < events.size(); ++i)
    if (events[i].is_object() && events[i].contains(key)) return i;
  return events.size();
}

std::string InstallProgram(const std::string& folder) {
  const std::filesystem::path module(LUMORA_DESKTOP_MODULE);
  std::filesystem::copy_file(module, std::filesystem::path(folder) / module.filename());
  const std::string program = folder + "/lumora";
  std::filesystem::copy_file(LUMORA_BINARY, program);
  return program;
}

const std::string& ProgramCopy() {
  static const TempDir folder;
  static const std::string copy = InstallProgram(folder.path());
  return copy;
}

std::set<std::string> MappedFiles(int pid) {
  std::set<std::string> files;
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  // ADDRESS PERMS OFFSET DEVICE INODE PATH: the path is the rest of the line.
  for (std::string line; std::getline(maps, line);) {
    std::istringstream fields(line);
    std::string skip, path;
    for (int i = 0; i < 5; ++i) fields >> skip;
    std::getline(fields >> std::ws, path);
    if (!path.empty() && path[0] == '/') files.insert(path);
  }
  return files;
}

std::string ProgramToRun(const LumoraOptions& options, std::string* linked) {
  linked->clear();
  const std::string binary = options.binary.empty() ? ProgramCopy() : options.binary;
  // A user starts the program in its own folder: the copy is linked into the folder
  // the test starts it in (a temporary one), and taken away again afterwards.
  const std::string temp = std::filesystem::temp_directory_path().string() + "/";
  if (!options.binary.empty() || options.cwd.rfind(temp, 0) != 0) return binary;
  const std::string link = options.cwd + "/lumora";
  std::error_code ec;
  if (std::filesystem::exists(link, ec)) return binary;  // a file of the test's own: left alone
  std::filesystem::create_hard_link(binary, link, ec);
  if (ec) std::filesystem::copy_file(binary, link, ec);
  if (ec) return binary;
  *linked = link;
  return link;
}

void ExecProgram(const std::string& binary, const LumoraOptions& options,
                 const std::string& config_home) {
  if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
  // The shop and the login service are nowhere unless a test names them: nothing
  // listens on port 1, so the update window's fetch of the server list fails at once
  // instead of reaching whatever runs on the default port.
  setenv("LUMORA_SHOP_HOST", "127.0.0.1:1", 1);
  setenv("LUMORA_LOGIN_HOST", "127.0.0.1:1", 1);
  setenv("XDG_CONFIG_HOME", config_home.c_str(), 1);
  for (const auto& [k, v] : options.env) setenv(k.c_str(), v.c_str(), 1);
  if (options.file_size_limit >= 0) {
    const rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                       static_cast<rlim_t>(options.file_size_limit)};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
  }
  std::vector<std::string> args{binary};
  if (options.headless) args.push_back("--headless");
  args.insert(args.end(), options.args.begin(), options.args.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  execv(binary.c_str(), argv.data());
  _exit(127);
}

LumoraRun RunLumora(const LumoraOptions& options, const std::vector<std::string>& script) {
  LumoraRun run;
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) || pipe2(out_pipe, O_CLOEXEC) || pipe2(err_pipe, O_CLOEXEC)) {
    ADD_FAILURE() << "pipe failed";
    return run;
  }
  std::string linked;
  const std::string binary = ProgramToRun(options, &linked);
  // The autostart entry and other records of the desktop go into a folder of the run's
  // own unless the test names one: no test touches the user's configuration.
  const TempDir config_home;
  pid_t pid = fork();
  if (pid == 0) {
    // The program ends with the test that started it, however the test ends.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (options.close_stdin)
      close(0);
    else
      dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    ExecProgram(binary, options, config_home.path());
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  signal(SIGPIPE, SIG_IGN);
  std::string input;
  std::vector<std::size_t> line_starts;
  for (const std::string& line : script) {
    line_starts.push_back(input.size());
    input += line + "\n";
  }
  line_starts.push_back(input.size());
  // Write the script up to the next gate not passed, reading output meanwhile so
  // neither side blocks.
  fcntl(in_pipe[1], F_SETFL, O_NONBLOCK);
  std::size_t written = 0;
  std::size_t gate = 0;
  const auto limit = [&] {
    if (gate >= options.gates.size()) return input.size();
    return line_starts[std::min(options.gates[gate].before_line, script.size())];
  };
  std::string out_text, err_text;
  std::size_t parsed = 0;  // bytes of out_text already split into lines
  const auto take_lines = [&] {
    for (std::size_t nl; (nl = out_text.find('\n', parsed)) != std::string::npos; parsed = nl + 1) {
      std::string line = out_text.substr(parsed, nl - parsed);
      run.events.push_back(Json::parse(line, nullptr, false));
      run.raw.push_back(std::move(line));
      if (gate < options.gates.size() && options.gates[gate].ready(run.events.back())) ++gate;
    }
  };
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.timeout_ms);
  bool out_open = true, err_open = true;
  int in_fd = in_pipe[1];
  if (options.close_stdin) {
    close(in_fd);
    in_fd = -1;
  }
  while (out_open || err_open) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) {
      ADD_FAILURE() << "lumora did not end in time";
      kill(pid, SIGKILL);
      break;
    }
    const bool writing = in_fd >= 0 && written < limit();
    pollfd fds[3] = {{out_open ? out_pipe[0] : -1, POLLIN, 0},
                     {err_open ? err_pipe[0] : -1, POLLIN, 0},
                     {writing ? in_fd : -1, POLLOUT, 0}};
    if (poll(fds, 3, static_cast<int>(left)) < 0) continue;
    char buf[8192];
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents == 0) continue;
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        (i == 0 ? out_open : err_open) = false;
        continue;
      }
      (i == 0 ? out_text : err_text).append(buf, static_cast<std::size_t>(n));
      if (i == 0) take_lines();
    }
    if (writing && fds[2].revents != 0) {
      ssize_t n = write(in_fd, input.data() + written, limit() - written);
      if (n > 0) written += static_cast<std::size_t>(n);
      // The program went away.
      if (n < 0 && errno != EAGAIN && errno != EINTR) written = input.size();
    }
    // The end of the input quits the program: only once every gate has been passed.
    if (in_fd >= 0 && written == input.size() && gate >= options.gates.size()) {
      close(in_fd);
      in_fd = -1;
    }
  }
  if (in_fd >= 0) close(in_fd);
  close(out_pipe[0]);
  close(err_pipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!linked.empty()) unlink(linked.c_str());
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.stderr_text = err_text;
  if (gate < options.gates.size())
    ADD_FAILURE() << "the program never passed gate " << gate << " of the script";
  return run;
}
