// One instance per user and desktop: the claim, later starts handed over on the socket,
// and what the socket, the lock and the folder refuse. Both sides run in this process
// (each claim opens the lock file afresh, so their locks exclude each other as two
// processes' would); the main loop is GLib's default context, iterated here.
#include "os/single_instance.h"

#include <fcntl.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "../support/temp_dir.h"

namespace {

using base::Status;
using base::UniqueFd;
using os::SingleInstance;

// Runs the default main context until |done| holds or a generous bound passes.
template <typename Done>
bool Spin(Done done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    g_main_context_iteration(nullptr, FALSE);
    g_usleep(1000);
  }
  return true;
}

// Runs the default main context for a while, for what is (or is not) to arrive.
void Settle() {
  for (int i = 0; i < 50; ++i) {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    g_usleep(2000);
  }
}

UniqueFd OpenFolder(const std::string& path) {
  UniqueFd folder;
  EXPECT_TRUE(SingleInstance::OpenFolder(path.c_str(), nullptr, &folder).ok());
  return folder;
}

// Sends |record| on a connection of its own to the socket at |path|, as a hostile
// process of this user's might.
void SendRaw(const std::string& path, const std::string& record) {
  UniqueFd fd(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  if (record.empty()) return;  // connected, and closed unsent
  ASSERT_EQ(send(fd.get(), record.data(), record.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(record.size()));
}

class SingleInstanceTest : public ::testing::Test {
 protected:
  // Claims "lumora-test" in the test's folder, recording what later starts hand over.
  Status Claim(SingleInstance& instance, const SingleInstance::LaterStart& start, bool* first,
               unsigned wait_ms = 10000) {
    return instance.Claim(
        OpenFolder(dir_.path()), "lumora-test", start,
        [this](const SingleInstance::LaterStart& later) { heard_.push_back(later); }, first,
        wait_ms);
  }
  std::string Socket() const { return dir_ / "lumora-test.socket"; }

  TempDir dir_;  // made with mode 0700: a folder of the user's own
  std::vector<SingleInstance::LaterStart> heard_;
};

TEST_F(SingleInstanceTest, ALaterStartIsHandedToTheFirstAndTheNextTakesOverWhenItEnds) {
  auto running = std::make_unique<SingleInstance>();
  bool first = false;
  ASSERT_TRUE(Claim(*running, {"ignored", ""}, &first).ok());
  EXPECT_TRUE(first);
  struct stat st;
  ASSERT_EQ(lstat(Socket().c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));

  for (const SingleInstance::LaterStart& start :
       std::vector<SingleInstance::LaterStart>{{"http://h/list.txt auto", "app-12_TIME345"},
                                               {"", ""},
                                               {"http://h/列表.txt  AUTO\nx", ""}}) {
    SingleInstance later;
    ASSERT_TRUE(Claim(later, start, &first).ok());
    EXPECT_FALSE(first);
  }
  ASSERT_TRUE(Spin([&] { return heard_.size() == 3; })) << heard_.size();
  EXPECT_EQ(heard_[0].command_line, "http://h/list.txt auto");
  EXPECT_EQ(heard_[0].startup_id, "app-12_TIME345");
  EXPECT_EQ(heard_[1].command_line, "");
  EXPECT_EQ(heard_[2].command_line, "http://h/列表.txt  AUTO\nx");

  // Once the first has ended, its socket is gone and the next start is the instance.
  running.reset();
  EXPECT_NE(lstat(Socket().c_str(), &st), 0);
  SingleInstance next;
  ASSERT_TRUE(Claim(next, {"", ""}, &first).ok());
  EXPECT_TRUE(first);
}

TEST_F(SingleInstanceTest, WhatIsNotALaterStartOfThisProgramIsDropped) {
  SingleInstance running;
  bool first = false;
  ASSERT_TRUE(Claim(running, {"", ""}, &first).ok());
  ASSERT_TRUE(first);
  const std::string start = "lumora-start 1\n";
  SendRaw(Socket(), start + "\n" + std::string(SingleInstance::kMaxRecord, 'x'));  // too long
  SendRaw(Socket(), "lumora-start 2\n\nhttp://h/l.txt auto");                      // other form
  SendRaw(Socket(), start + "no line feed after the id");
  SendRaw(Socket(), start + "\nhttp://h/\xff\xfe.txt auto");  // not UTF-8
  SendRaw(Socket(), start + "\nhttp://h/" + std::string(1, '\0') + ".txt auto");
  SendRaw(Socket(), start + "an id\nhttp://h/l.txt auto");  // a space in the id
  SendRaw(Socket(), "");                                    // nothing at all
  SendRaw(Socket(), start + "\nthe one");
  ASSERT_TRUE(Spin([&] { return !heard_.empty(); }));
  Settle();
  ASSERT_EQ(heard_.size(), 1u);
  EXPECT_EQ(heard_[0].command_line, "the one");

  // A start that would send such a record refuses, before anything is sent.
  SingleInstance later;
  EXPECT_EQ(Claim(later, {"http://h/\xff.txt auto", ""}, &first).code(), Status::Code::kInvalid);
  EXPECT_FALSE(first);
  SingleInstance longer;
  EXPECT_EQ(Claim(longer, {std::string(SingleInstance::kMaxRecord, 'a'), ""}, &first).code(),
            Status::Code::kInvalid);
  Settle();
  EXPECT_EQ(heard_.size(), 1u);
}

TEST_F(SingleInstanceTest, WhatStandsAtTheSocketOrTheLockIsNeverWaitedOn) {
  // A FIFO left where the socket goes is replaced by the first instance's socket.
  ASSERT_EQ(mkfifo(Socket().c_str(), 0600), 0);
  auto running = std::make_unique<SingleInstance>();
  bool first = false;
  ASSERT_TRUE(Claim(*running, {"", ""}, &first).ok());
  ASSERT_TRUE(first);
  // Where the running instance's socket was replaced by a FIFO, a later start finds no
  // one listening and says so once its wait is over.
  ASSERT_EQ(unlink(Socket().c_str()), 0);
  ASSERT_EQ(mkfifo(Socket().c_str(), 0600), 0);
  SingleInstance later;
  EXPECT_EQ(Claim(later, {"http://h/l.txt auto", ""}, &first, 200).code(),
            Status::Code::kUnavailable);
  EXPECT_FALSE(first);
  running.reset();

  // A FIFO in place of the lock file: the program runs on its own, unlistened.
  ASSERT_EQ(unlink((dir_ / "lumora-test.lock").c_str()), 0);
  ASSERT_EQ(mkfifo((dir_ / "lumora-test.lock").c_str(), 0600), 0);
  SingleInstance alone;
  EXPECT_EQ(Claim(alone, {"", ""}, &first).code(), Status::Code::kNotRegular);
  EXPECT_TRUE(first);
}

TEST(SingleInstanceFolderTest, OnlyAFolderOfTheUsersOwnThatNoOneElseMayEnter) {
  TempDir home;  // mode 0700
  struct stat st;
  UniqueFd folder;
  // The runtime folder when it is private.
  ASSERT_TRUE(SingleInstance::OpenFolder(home.path().c_str(), "/nonexistent", &folder).ok());
  ASSERT_EQ(fstat(folder.get(), &st), 0);
  struct stat home_st;
  ASSERT_EQ(stat(home.path().c_str(), &home_st), 0);
  EXPECT_EQ(st.st_ino, home_st.st_ino);

  // Otherwise "lumora-UID" in the temporary folder, made private.
  home.MakeDir("open");
  ASSERT_EQ(chmod((home / "open").c_str(), 0755), 0);
  home.MakeDir("tmp");
  const std::string own = home / ("tmp/lumora-" + std::to_string(geteuid()));
  const std::string open_to_others = home / "open";
  for (const char* runtime :
       std::vector<const char*>{open_to_others.c_str(), "relative/run", "", nullptr}) {
    ASSERT_TRUE(SingleInstance::OpenFolder(runtime, (home / "tmp").c_str(), &folder).ok());
    ASSERT_EQ(stat(own.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
  }

  // One that others may enter, or a link, is refused.
  ASSERT_EQ(chmod(own.c_str(), 0750), 0);
  EXPECT_FALSE(SingleInstance::OpenFolder(nullptr, (home / "tmp").c_str(), &folder).ok());
  ASSERT_EQ(rmdir(own.c_str()), 0);
  home.MakeDir("private");
  ASSERT_EQ(chmod((home / "private").c_str(), 0700), 0);
  ASSERT_EQ(symlink((home / "private").c_str(), own.c_str()), 0);
  EXPECT_FALSE(SingleInstance::OpenFolder(nullptr, (home / "tmp").c_str(), &folder).ok());
}

TEST(SingleInstanceNameTest, EachDisplayHasANameOfItsOwn) {
  EXPECT_EQ(SingleInstance::NameFor(":99"), "lumora-%3A99");
  EXPECT_EQ(SingleInstance::NameFor(":99.0"), "lumora-%3A99");  // its screen 0
  EXPECT_EQ(SingleInstance::NameFor("host.example:10.2"), "lumora-host.example%3A10");
  EXPECT_EQ(SingleInstance::NameFor("wayland-0"), "lumora-wayland-0");
  EXPECT_EQ(SingleInstance::NameFor("../x/y"), "lumora-..%2Fx%2Fy");
  const std::string long_name = SingleInstance::NameFor(std::string(100, '/'));
  EXPECT_EQ(long_name.size(), 7u + 32u);
  EXPECT_NE(long_name, SingleInstance::NameFor(std::string(101, '/')));
}

}  // namespace
