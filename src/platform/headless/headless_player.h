// The player without a display: it reads the movie through the ordinary file
// functions and reports its size, writes every variable the host sets, and raises the
// movie commands and variable changes that the automation interface sends it.
#ifndef LUMORA_PLATFORM_HEADLESS_HEADLESS_PLAYER_H_
#define LUMORA_PLATFORM_HEADLESS_HEADLESS_PLAYER_H_

#include <map>
#include <string>

#include "base/status.h"
#include "platform/headless/automation_channel.h"
#include "platform/player.h"

namespace platform {

class HeadlessPlayer : public Player {
 public:
  explicit HeadlessPlayer(AutomationChannel& channel) : channel_(channel) {}

  void SetEvents(PlayerEvents* events) override { events_ = events; }
  bool LoadMovie(const std::string& path) override;
  void SetLayout(int, const std::string&, int) override {}
  void Play() override {}
  void SetVariable(const std::string& name, const std::string& value) override;

  // Input from the automation interface; input that is refused comes back as Invalid,
  // with the error line's text as its message.
  [[nodiscard]] base::Status HandleFSCommand(const AutomationChannel::Json& input);
  [[nodiscard]] base::Status HandleSetVariable(const AutomationChannel::Json& variable);
  [[nodiscard]] base::Status HandleGetVariable(const AutomationChannel::Json& name);

 private:
  AutomationChannel& channel_;
  PlayerEvents* events_ = nullptr;
  // The movie's variables as the movie sees them.
  std::map<std::string, std::string> variables_;
};

}  // namespace platform

#endif  // LUMORA_PLATFORM_HEADLESS_HEADLESS_PLAYER_H_
