#include "platform/headless/headless_player.h"

#include "base/files.h"
#include "base/folders.h"

namespace platform {

using Json = AutomationChannel::Json;

bool HeadlessPlayer::LoadMovie(const std::string& path) {
  std::string movie;
  if (!base::ReadWholeFile(path, &movie).ok()) return false;
  channel_.Emit(Json{{"movie", {{"path", path}, {"size", movie.size()}}}});
  return true;
}

void HeadlessPlayer::SetVariable(const std::string& name, const std::string& value) {
  variables_[name] = value;
  channel_.Emit(Json{{"setVariable", {{"name", name}, {"value", value}}}});
}

base::Status HeadlessPlayer::HandleFSCommand(const Json& input) {
  if (!input["fscommand"].is_string())
    return base::Status::Invalid("\"fscommand\" takes a command name");
  std::string args;
  if (input.contains("args")) {
    if (!input["args"].is_string()) return base::Status::Invalid("\"args\" must be a string");
    args = input["args"];
  }
  if (events_) events_->OnFSCommand(input["fscommand"], args);
  return base::Status::Ok();
}

base::Status HeadlessPlayer::HandleSetVariable(const Json& variable) {
  if (!variable.is_object() || !variable.contains("name") || !variable["name"].is_string() ||
      !variable.contains("value") || !variable["value"].is_string())
    return base::Status::Invalid("\"setVariable\" takes {\"name\": N, \"value\": V}");
  variables_[variable["name"]] = variable["value"];
  if (events_) events_->OnVariableChanged(variable["name"], variable["value"]);
  return base::Status::Ok();
}

base::Status HeadlessPlayer::HandleGetVariable(const Json& name) {
  if (!name.is_string()) return base::Status::Invalid("\"getVariable\" takes a variable name");
  auto it = variables_.find(name);
  channel_.Emit(
      Json{{"variable", {{"name", name}, {"value", it == variables_.end() ? "" : it->second}}}});
  return base::Status::Ok();
}

}  // namespace platform
