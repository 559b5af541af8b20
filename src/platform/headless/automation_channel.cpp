#include "platform/headless/automation_channel.h"

#include <glib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

AutomationChannel::AutomationChannel(MainLoop& loop, int in_fd, std::FILE* out)
    : loop_(loop), in_fd_(in_fd), out_(out), stop_fd_(eventfd(0, EFD_CLOEXEC)) {}

AutomationChannel::~AutomationChannel() {
  if (reader_.joinable()) {
    std::uint64_t one = 1;
    if (write(stop_fd_, &one, sizeof one) < 0) {
      // The reader then ends with the input; nothing else to do.
    }
    reader_.join();
  }
  if (wait_source_ != 0) g_source_remove(wait_source_);
  if (stop_fd_ >= 0) close(stop_fd_);
}

void AutomationChannel::Start(Dispatcher dispatch, std::function<void()> end_of_input) {
  dispatch_ = std::move(dispatch);
  end_of_input_ = std::move(end_of_input);
  reader_ = std::thread(&AutomationChannel::ReadLoop, this);
}

void AutomationChannel::ReadLoop() {
  std::string buffer;
  char chunk[4096];
  for (;;) {
    pollfd fds[2] = {{in_fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents != 0) return;  // the channel is going away
    ssize_t n = read(in_fd_, chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;
    buffer.append(chunk, static_cast<std::size_t>(n));
    std::size_t start = 0;
    for (std::size_t nl; (nl = buffer.find('\n', start)) != std::string::npos;
         start = nl + 1) {
      std::string line = buffer.substr(start, nl - start);
      loop_.Post([this, line = std::move(line)]() mutable { OnLine(std::move(line)); });
    }
    buffer.erase(0, start);
  }
  if (!buffer.empty())
    loop_.Post([this, line = std::move(buffer)]() mutable { OnLine(std::move(line)); });
  loop_.Post([this] { OnEndOfInput(); });
}

void AutomationChannel::OnLine(std::string line) {
  pending_.emplace_back(std::move(line));
  Pump();
}

void AutomationChannel::OnEndOfInput() {
  pending_.emplace_back(std::nullopt);
  Pump();
}

void AutomationChannel::Pump() {
  // A handler may run a nested loop that delivers more lines: they wait their turn.
  if (pumping_) return;
  pumping_ = true;
  while (wait_source_ == 0 && !pending_.empty() && !loop_.quitting()) {
    std::optional<std::string> line = std::move(pending_.front());
    pending_.pop_front();
    if (!line) {
      if (end_of_input_) end_of_input_();
      break;
    }
    if (!line->empty() && line->back() == '\r') line->pop_back();
    if (line->find_first_not_of(" \t") == std::string::npos) continue;
    Json input = Json::parse(*line, nullptr, false);
    // Each line is one object with one key; a movie command may carry "args" beside it.
    bool command = input.is_object() && input.contains("fscommand");
    if (input.is_discarded() || !input.is_object() ||
        input.size() != (command && input.contains("args") ? 2u : 1u)) {
      EmitError("malformed line: expected one JSON object with one key");
      continue;
    }
    const std::string key = command ? "fscommand" : input.begin().key();
    const Json& value = input[key];
    if (key == "answer") {
      answers_.push_back(value);
    } else if (key == "wait") {
      if (!value.is_number() || value.get<double>() < 0) {
        EmitError("\"wait\" takes a number of milliseconds");
        continue;
      }
      wait_source_ = g_timeout_add(static_cast<guint>(value.get<double>()),
                                   &AutomationChannel::OnWaitOver, this);
    } else {
      std::string error = dispatch_ ? dispatch_(input) : "not ready";
      if (!error.empty()) EmitError(error);
    }
  }
  pumping_ = false;
}

int AutomationChannel::OnWaitOver(void* data) {
  auto* self = static_cast<AutomationChannel*>(data);
  self->wait_source_ = 0;
  self->Pump();
  return G_SOURCE_REMOVE;
}

void AutomationChannel::Emit(const Json& event) {
  std::string line = event.dump(-1, ' ', false, Json::error_handler_t::replace);
  std::lock_guard<std::mutex> lock(out_mutex_);
  std::fputs(line.c_str(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void AutomationChannel::EmitError(const std::string& message) {
  Emit(Json{{"error", message}});
}

std::optional<AutomationChannel::Json> AutomationChannel::TakeAnswer() {
  if (answers_.empty()) return std::nullopt;
  Json answer = std::move(answers_.front());
  answers_.pop_front();
  return answer;
}

}  // namespace platform
