// A Secret Service of the test's own: a private session bus (dbus-daemon with a
// configuration that starts no service by itself) and gnome-keyring-daemon's secrets
// component on it, its login keyring made and unlocked with a throwaway password in a
// temporary HOME. Both end with the object, or with the test process however it ends.
#ifndef LUMORA_TESTS_SUPPORT_SECRET_SERVICE_H_
#define LUMORA_TESTS_SUPPORT_SECRET_SERVICE_H_

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

#include "temp_dir.h"

class SecretService {
 public:
  // Starts the bus and the daemon and waits until the daemon owns its bus name.
  SecretService();
  ~SecretService();
  SecretService(const SecretService&) = delete;
  SecretService& operator=(const SecretService&) = delete;

  // False when either could not start; error() then says what ran and what it printed.
  bool ready() const { return ready_; }
  const std::string& error() const { return error_; }
  // The bus's address, for DBUS_SESSION_BUS_ADDRESS.
  const std::string& address() const { return address_; }
  // The environment of a program that uses this service (and no other bus).
  std::vector<std::pair<std::string, std::string>> Env() const;

  // Stops the daemon (SIGSTOP): the bus still takes calls for it, which wait unanswered
  // until Resume, as with a store that is slow or waits for its unlock prompt.
  void Pause();
  void Resume();

 private:
  bool StartBus();
  bool StartKeyring();
  bool WaitForName();
  static void End(pid_t* pid);

  TempDir root_;
  std::string address_;
  std::string error_;
  bool ready_ = false;
  pid_t bus_ = -1;
  pid_t keyring_ = -1;
};

#endif  // LUMORA_TESTS_SUPPORT_SECRET_SERVICE_H_
