#include "platform/headless/automation_channel.h"

#include <glib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "base/callback_guard.h"

namespace platform {
namespace {

// Whether the JSON text |line| nests arrays and objects deeper than |limit|. Counted on
// the text before parsing, so a hostile line never reaches a recursive parser, printer
// or destructor.
bool NestingExceeds(std::string_view line, int limit) {
  int depth = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (in_string) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return true;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

}  // namespace

AutomationChannel::AutomationChannel(os::MainLoop& loop, int in_fd, std::FILE* out)
    : loop_(loop), in_fd_(in_fd), out_(out), stop_fd_(eventfd(0, EFD_CLOEXEC)) {}

AutomationChannel::~AutomationChannel() {
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    stopping_ = true;
  }
  queue_room_.notify_all();
  if (reader_.joinable()) {
    std::uint64_t one = 1;
    // When the wake-up cannot be written, the reader ends with the input instead.
    [[maybe_unused]] const ssize_t written = write(stop_fd_.get(), &one, sizeof one);
    reader_.join();
  }
  if (wait_source_ != 0) g_source_remove(wait_source_);
}

void AutomationChannel::Start(Dispatcher dispatch, std::function<void()> end_of_input) {
  dispatch_ = std::move(dispatch);
  end_of_input_ = std::move(end_of_input);
  if (in_fd_ >= 0) reader_ = std::thread(&AutomationChannel::ReadLoop, this);
}

void AutomationChannel::Feed(std::string line) {
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    queued_bytes_ += line.size();
  }
  OnLine(std::move(line));
}

void AutomationChannel::ReadLoop() {
  // Input that cannot be read on (no memory for a line) ends as input that has ended,
  // so that the program is not left waiting for more.
  const bool going_away =
      base::Guarded("reading automation input", false, [this] { return ReadLines(); });
  if (!going_away) loop_.Post([this] { OnEndOfInput(); });
}

bool AutomationChannel::ReadLines() {
  std::string buffer;     // the unfinished line
  bool overlong = false;  // the current line passed the limit and is being skipped
  char chunk[65536];
  // A script that writes faster than its lines are handled waits: memory stays bounded.
  auto deliver = [this](std::string line) {
    {
      std::unique_lock<std::mutex> lock(queue_mutex_);
      queue_room_.wait(lock, [this] { return stopping_ || queued_bytes_ <= kMaxQueuedBytes; });
      if (stopping_) return;
      queued_bytes_ += line.size();
    }
    loop_.Post([this, line = std::move(line)]() mutable { OnLine(std::move(line)); });
  };
  auto refuse_overlong = [this] { loop_.Post([this] { OnLine(std::nullopt); }); };
  for (;;) {
    pollfd fds[2] = {{in_fd_, POLLIN, 0}, {stop_fd_.get(), POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents != 0) return true;  // the channel is going away
    ssize_t n = read(in_fd_, chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;
    // Only the new bytes are scanned for line ends.
    std::string_view fresh(chunk, static_cast<std::size_t>(n));
    for (std::size_t nl; (nl = fresh.find('\n')) != std::string_view::npos;
         fresh.remove_prefix(nl + 1)) {
      if (overlong) {
        overlong = false;
        refuse_overlong();
      } else {
        buffer.append(fresh.substr(0, nl));
        if (buffer.size() > kMaxLineBytes)
          refuse_overlong();
        else
          deliver(std::move(buffer));
      }
      buffer.clear();
    }
    if (!overlong) buffer.append(fresh);
    if (buffer.size() > kMaxLineBytes) {
      // Drop what came so far and skip the rest of the line.
      overlong = true;
      std::string().swap(buffer);
    }
  }
  if (overlong)
    refuse_overlong();
  else if (!buffer.empty())
    deliver(std::move(buffer));
  return false;
}

void AutomationChannel::OnLine(std::optional<std::string> line) {
  pending_.push_back(
      Pending{line ? Pending::kLine : Pending::kOverlong, line ? std::move(*line) : std::string()});
  Pump();
}

void AutomationChannel::OnEndOfInput() {
  pending_.push_back(Pending{Pending::kEnd, {}});
  Pump();
}

void AutomationChannel::Pump() {
  // A handler may run a nested loop that delivers more lines: they wait their turn.
  if (pumping_) return;
  pumping_ = true;
  // Cleared however the pump ends: a handler that throws must not stop the channel.
  struct Clear {
    bool& flag;
    ~Clear() { flag = false; }
  } clear{pumping_};
  while (wait_source_ == 0 && !pending_.empty() && !loop_.quitting()) {
    Pending next = std::move(pending_.front());
    pending_.pop_front();
    if (next.kind == Pending::kLine) {
      {
        std::lock_guard<std::mutex> lock(queue_mutex_);
        queued_bytes_ -= next.line.size();
      }
      queue_room_.notify_one();
    }
    if (next.kind == Pending::kEnd) {
      if (end_of_input_) end_of_input_();
      break;
    }
    if (next.kind == Pending::kOverlong) {
      EmitError("line longer than " + std::to_string(kMaxLineBytes) + " bytes");
      continue;
    }
    std::string& line = next.line;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    if (NestingExceeds(line, kMaxDepth)) {
      EmitError("value nested deeper than " + std::to_string(kMaxDepth) + " levels");
      continue;
    }
    Json input = Json::parse(line, nullptr, false);
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
      if (!value.is_number() || !(value.get<double>() >= 0) || value.get<double>() > kMaxWaitMs) {
        EmitError("\"wait\" takes a number of milliseconds from 0 to " +
                  std::to_string(kMaxWaitMs));
        continue;
      }
      wait_source_ = g_timeout_add(static_cast<guint>(value.get<double>()),
                                   &AutomationChannel::OnWaitOver, this);
    } else {
      const base::Status handled =
          dispatch_ ? dispatch_(input) : base::Status::Unavailable("not ready");
      if (!handled.ok()) EmitError(handled.message());
    }
  }
}

int AutomationChannel::OnWaitOver(void* data) noexcept {
  auto* self = static_cast<AutomationChannel*>(data);
  self->wait_source_ = 0;
  base::Guarded("automation input", [self] { self->Pump(); });
  return G_SOURCE_REMOVE;
}

void AutomationChannel::Emit(const Json& event) {
  std::string line = event.dump(-1, ' ', false, Json::error_handler_t::replace);
  std::lock_guard<std::mutex> lock(out_mutex_);
  std::fputs(line.c_str(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void AutomationChannel::EmitError(const std::string& message) { Emit(Json{{"error", message}}); }

std::optional<AutomationChannel::Json> AutomationChannel::TakeAnswer() {
  if (answers_.empty()) return std::nullopt;
  Json answer = std::move(answers_.front());
  answers_.pop_front();
  return answer;
}

}  // namespace platform
