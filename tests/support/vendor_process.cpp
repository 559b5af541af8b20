#include "vendor_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// Bounds that only keep a broken service from hanging the test run.
constexpr int kStartBoundMs = 20000;
constexpr int kRunBoundMs = 20000;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int ExitCode(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// Starts the program with |args|, standard output on |out_fd| and standard error into
// |err_path|.
pid_t Spawn(const std::vector<std::string>& args, int out_fd, const std::string& err_path) {
  std::vector<std::string> argv_strings = {VendorProgram()};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argv_strings) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    // The service ends with the test that started it, however the test ends: one left
    // behind would keep its port, and whatever descriptors it inherited, for good.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(out_fd, 1);
    dup2(err, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// Waits for |pid| up to |bound_ms|; kills it past that.
int WaitBounded(pid_t pid, int bound_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(bound_ms);
  int status = 0;
  for (;;) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return ExitCode(status);
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "lumora-vendor did not end; killed";
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

const std::string& VendorProgram() {
  static const TempDir folder;  // removed when the test process ends
  static const std::string copy = [] {
    std::string path = folder / "lumora-vendor";
    fs::copy_file(LUMORA_VENDOR_BINARY, path, fs::copy_options::overwrite_existing);
    fs::permissions(path, fs::perms::owner_all);
    return path;
  }();
  return copy;
}

VendorRun RunVendor(const std::vector<std::string>& args) {
  TempDir scratch;
  std::string out_path = scratch / "out";
  std::string err_path = scratch / "err";
  int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = Spawn(args, out, err_path);
  close(out);
  VendorRun run;
  run.exit_code = WaitBounded(pid, kRunBoundMs);
  run.out = ReadFile(out_path);
  run.err = ReadFile(err_path);
  return run;
}

VendorProcess::VendorProcess(const std::vector<std::string>& args) {
  static const TempDir errors;  // standard error of every run, kept for reports
  static int count = 0;
  err_path_ = errors / ("err-" + std::to_string(++count));
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe failed";
    return;
  }
  std::vector<std::string> all = {"--port", "0"};
  all.insert(all.end(), args.begin(), args.end());
  pid_ = Spawn(all, pipe_fds[1], err_path_);
  close(pipe_fds[1]);
  std::string line;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartBoundMs);
  while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd p{pipe_fds[0], POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char c;
    if (read(pipe_fds[0], &c, 1) != 1) break;
    line += c;
  }
  close(pipe_fds[0]);
  if (line.rfind("port ", 0) != 0 || line.back() != '\n') {
    ADD_FAILURE() << "no port line from lumora-vendor: '" << line << "'\n" << Errors();
    return;
  }
  port_ = std::atoi(line.c_str() + 5);
  EXPECT_GT(port_, 0) << line;
}

VendorProcess::~VendorProcess() {
  if (pid_ > 0) Stop(SIGKILL);
}

int VendorProcess::Stop(int signal_number) {
  if (pid_ <= 0) return -1;
  kill(pid_, signal_number);
  int code = WaitBounded(pid_, kRunBoundMs);
  pid_ = -1;
  return code;
}

std::string VendorProcess::Errors() const { return ReadFile(err_path_); }

std::string HttpReply::Header(const std::string& name) const {
  auto it = headers.find(name);
  return it == headers.end() ? std::string() : it->second;
}

HttpReply ParseReply(std::string raw, bool closed) {
  HttpReply reply;
  reply.closed = closed;
  reply.raw = std::move(raw);
  std::size_t end = reply.raw.find("\r\n\r\n");
  if (end == std::string::npos) return reply;
  reply.head = reply.raw.substr(0, end + 2);
  reply.body = reply.raw.substr(end + 4);
  std::istringstream lines(reply.head);
  std::string line;
  std::getline(lines, line);
  if (line.rfind("HTTP/1.", 0) == 0 && line.size() >= 12) reply.status = std::atoi(&line[9]);
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = line.substr(0, colon);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::size_t value = line.find_first_not_of(' ', colon + 1);
    reply.headers.emplace(name, value == std::string::npos ? "" : line.substr(value));
  }
  return reply;
}

Client::Client(int port) {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ADD_FAILURE() << "cannot connect to port " << port << ": " << strerror(errno);
  }
}

Client::~Client() {
  if (fd_ >= 0) close(fd_);
}

bool Client::Send(const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

std::string Client::ReadToEnd(bool* closed, int quiet_ms) {
  std::string bytes;
  *closed = false;
  for (;;) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, quiet_ms) <= 0) return bytes;
    char chunk[65536];
    ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) {
      *closed = true;
      return bytes;
    }
    bytes.append(chunk, static_cast<std::size_t>(n));
  }
}

bool Client::ReadAtLeast(std::string* bytes, std::size_t size) {
  while (bytes->size() < size) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 20000) <= 0) return false;
    char chunk[65536];
    ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    bytes->append(chunk, static_cast<std::size_t>(n));
  }
  return true;
}

HttpReply Client::ReadOne() {
  std::string bytes;
  while (bytes.find("\r\n\r\n") == std::string::npos) {
    if (!ReadAtLeast(&bytes, bytes.size() + 1)) return ParseReply(bytes, true);
  }
  HttpReply head = ParseReply(bytes, false);
  std::size_t total = bytes.find("\r\n\r\n") + 4 +
                      static_cast<std::size_t>(std::atoll(head.Header("content-length").c_str()));
  ReadAtLeast(&bytes, total);
  return ParseReply(bytes, false);
}

HttpReply Exchange(int port, const std::string& request) {
  Client client(port);
  client.Send(request);
  bool closed = false;
  std::string raw = client.ReadToEnd(&closed);
  return ParseReply(std::move(raw), closed);
}

std::string Get10(const std::string& target) { return "GET " + target + " HTTP/1.0\r\n\r\n"; }

std::string Md5(const std::string& bytes) {
  gchar* hex = g_compute_checksum_for_data(
      G_CHECKSUM_MD5, reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
  std::string result(hex);
  g_free(hex);
  return result;
}
