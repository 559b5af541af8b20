// The secret store against a real Secret Service: gnome-keyring's daemon on a session bus
// of the test's own (support/secret_service.h), reached through libsecret as the
// program reaches it.
#include "os/secret_store.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
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

// Kept, found, replaced, kept apart by user and address, and forgotten: once by the
// calls that wait, once through the worker, whose calls run in the order asked and
// answer on the loop.
TEST_F(SecretStoreTest, PasswordsAreKeptFoundReplacedAndForgotten) {
  const std::string url = "http://127.0.0.1:8080/opds/";
  std::string found;
  ASSERT_TRUE(os::StoreOpdsPassword(url, "reader", "first", "Lumora OPDS test").ok());
  ASSERT_TRUE(os::StoreOpdsPassword(url, "reader", "pässwört|\t2", "Lumora OPDS test").ok());
  ASSERT_TRUE(os::LookUpOpdsPassword(url, "reader", &found).ok());
  EXPECT_EQ(found, "pässwört|\t2");
  EXPECT_EQ(os::LookUpOpdsPassword(url, "other", &found).code(), base::Status::Code::kNotFound);
  EXPECT_EQ(os::LookUpOpdsPassword(url + "x", "reader", &found).code(),
            base::Status::Code::kNotFound);
  ASSERT_TRUE(os::ClearOpdsPassword(url, "reader").ok());
  EXPECT_EQ(os::LookUpOpdsPassword(url, "reader", &found).code(), base::Status::Code::kNotFound);
  EXPECT_TRUE(os::ClearOpdsPassword(url, "reader").ok());  // none kept: nothing to do

  os::MainLoop loop;
  std::vector<std::string> answers;
  auto note = [&](const char* what) {
    return [&, what](const base::Status& status, const std::string& password) {
      answers.push_back(std::string(what) + ":" + std::to_string(static_cast<int>(status.code())) +
                        ":" + password);
    };
  };
  {
    os::SecretStoreWorker worker(loop);
    worker.Store(url, "reader", "third", "Lumora OPDS test", note("store"));
    worker.LookUp(url, "reader", note("lookup"));
    worker.Clear(url, "reader", note("clear"));
    worker.LookUp(url, "reader", [&](const base::Status& status, const std::string& password) {
      note("lookup")(status, password);
      loop.Quit(0);
    });
    EXPECT_EQ(loop.Run(), 0);
  }
  const auto ok = std::to_string(static_cast<int>(base::Status::Code::kOk));
  const auto not_found = std::to_string(static_cast<int>(base::Status::Code::kNotFound));
  EXPECT_EQ(answers, (std::vector<std::string>{"store:" + ok + ":", "lookup:" + ok + ":third",
                                               "clear:" + ok + ":", "lookup:" + not_found + ":"}));
}

// A store that takes calls but does not answer: the loop's thread is free meanwhile (a
// message posted after the look-up runs before its answer), and the answer comes once
// the store does.
TEST_F(SecretStoreTest, ASlowStoreLeavesTheLoopFree) {
  const std::string url = "http://127.0.0.1:8080/slow/";
  ASSERT_TRUE(os::StoreOpdsPassword(url, "reader", "kept", "Lumora OPDS test").ok());
  os::MainLoop loop;
  std::vector<std::string> order;
  os::SecretStoreWorker worker(loop);
  service_->Pause();
  worker.LookUp(url, "reader", [&](const base::Status& status, const std::string& password) {
    order.push_back(status.ok() ? "found " + password : "failed " + status.message());
    loop.Quit(0);
  });
  loop.Post([&] {
    order.push_back("loop served");
    service_->Resume();
  });
  EXPECT_EQ(loop.Run(), 0);
  service_->Resume();
  EXPECT_EQ(order, (std::vector<std::string>{"loop served", "found kept"}));
  EXPECT_TRUE(os::ClearOpdsPassword(url, "reader").ok());
}

}  // namespace
