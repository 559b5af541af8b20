#include "platform/headless/headless_update_window.h"

namespace platform {

using Json = AutomationChannel::Json;

void HeadlessUpdateWindow::AddLog(const std::string& entry) {
  ++log_size_;
  channel_.Emit(Json{{"log", entry}});
}

void HeadlessUpdateWindow::SetServers(const std::vector<std::string>& labels, int selected) {
  servers_ = labels;
  selected_ = selected;
}

base::Status HeadlessUpdateWindow::Handle(const Json& input) {
  if (input.is_object()) {
    if (!input.contains("server") || !input["server"].is_number_integer())
      return base::Status::Invalid("\"updateWindow\" takes {\"server\": ITEM}");
    const auto item = input["server"].get<long long>();
    if (item < 0 || item >= static_cast<long long>(servers_.size()))
      return base::Status::Invalid("no server " + std::to_string(item) + " in the update window");
    if (!enabled_) return base::Status::Unavailable("the server choice is disabled while updating");
    selected_ = static_cast<int>(item);
    if (events_) events_->OnServerChosen(selected_);
    return base::Status::Ok();
  }
  const std::string action = input.is_string() ? input.get<std::string>() : std::string();
  if (action == "state") {
    channel_.Emit(Json{{"updateWindow",
                        {{"visible", visible_},
                         {"servers", servers_},
                         {"selected", selected_},
                         {"overall", overall_},
                         {"current", current_},
                         {"enabled", enabled_},
                         {"logEntries", log_size_}}}});
  } else if (action == "show") {
    Show();
  } else if (action == "manual") {
    if (!enabled_) return base::Status::Unavailable("\"手动更新\" is disabled while updating");
    if (events_) events_->OnManualUpdate();
  } else if (action == "install") {
    if (events_) events_->OnInstallNow();
  } else if (action == "close") {
    if (events_) events_->OnCloseUpdates();
  } else {
    return base::Status::Invalid(
        "\"updateWindow\" takes \"state\", \"show\", \"manual\", \"install\", \"close\" or "
        "{\"server\": ITEM}");
  }
  return base::Status::Ok();
}

}  // namespace platform
