// The secret store against a real Secret Service: gnome-keyring's daemon on a session bus
// of the test's own (support/secret_service.h), reached through libsecret as the
// program reaches it.
#include "os/secret_store.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "../support/secret_service.h"

namespace {

class SecretStoreTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    service_ = new SecretService();
    if (!service_->ready()) return;
    setenv("DBUS_SESSION_BUS_ADDRESS", service_->address().c_str(), 1);
    // libsecret uses the process's shared session bus, which by default ends the process
    // when the bus goes: the bus ends with the suite, the process goes on.
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (bus) g_dbus_connection_set_exit_on_close(bus, FALSE);
    bus_ = bus;
  }
  static void TearDownTestSuite() {
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    delete service_;
    service_ = nullptr;
    if (bus_) g_object_unref(bus_);
    bus_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(service_->ready()) << service_->error(); }

  static SecretService* service_;
  static GDBusConnection* bus_;
};
SecretService* SecretStoreTest::service_ = nullptr;
GDBusConnection* SecretStoreTest::bus_ = nullptr;

// Kept, found, replaced, kept apart by user and address, and forgotten; the calls run in
// the order asked and answer on the loop.
TEST_F(SecretStoreTest, PasswordsAreKeptFoundReplacedAndForgotten) {
  const std::string url = "http://127.0.0.1:8080/opds/";
  os::MainLoop loop;
  std::vector<std::string> answers;
  auto note = [&](const char* what) {
    return [&, what](const base::Status& status, const std::string& password) {
      answers.push_back(std::string(what) + ":" +
                        (status.ok()                                      ? "ok"
                         : status.code() == base::Status::Code::kNotFound ? "none"
                                                                          : status.message()) +
                        ":" + password);
    };
  };
  {
    os::SecretStoreWorker worker(loop);
    worker.Store(url, "reader", "first", "Lumora OPDS test", note("store"));
    worker.Store(url, "reader", "pässwört|\t2", "Lumora OPDS test", note("store"));
    worker.LookUp(url, "reader", note("lookup"));
    worker.LookUp(url, "other", note("other user"));
    worker.LookUp(url + "x", "reader", note("other url"));
    worker.Clear(url, "reader", note("clear"));
    worker.Clear(url, "reader", note("clear again"));
    worker.LookUp(url, "reader", [&](const base::Status& status, const std::string& password) {
      note("lookup")(status, password);
      loop.Quit(0);
    });
    EXPECT_EQ(loop.Run(), 0);
  }
  EXPECT_EQ(answers, (std::vector<std::string>{"store:ok:", "store:ok:", "lookup:ok:pässwört|\t2",
                                               "other user:none:", "other url:none:", "clear:ok:",
                                               "clear again:ok:", "lookup:none:"}));
}

}  // namespace
