// lumora-manifest, run as a publisher runs it: the manifest of a release folder read
// back by the updater's own reader, what it leaves out of a hostile folder, its
// signature as the minisign tool checks it, and its command line.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "../support/command.h"
#include "../support/temp_dir.h"
#include "update/file_digest.h"
#include "update/file_patch.h"
#include "update/update_files.h"

namespace {

namespace fs = std::filesystem;

CommandRun Manifest(const std::vector<std::string>& args) {
  std::vector<std::string> command{LUMORA_MANIFEST_BINARY};
  command.insert(command.end(), args.begin(), args.end());
  return RunCommand(command);
}

class ManifestToolTest : public ::testing::Test {
 protected:
  ManifestToolTest() {
    folders_.current_dir = dir_ / "prog";
    folders_.app_data_dir = dir_ / "home";
    folders_.windows_dir = dir_ / "home/vellari/windows";
    folders_.system_dir = dir_ / "home/vellari/system";
    folders_.version_index = dir_ / "home/vellari/installed-versions.txt";
  }

  // The entries of the manifest at |path| as the updater reads them, in order.
  std::vector<std::unique_ptr<update::CUpdateFile>> Read(const std::string& path) {
    update::CUpdateFiles files(folders_);
    EXPECT_TRUE(files.Load(path));
    EXPECT_TRUE(files.GetRefused().empty());
    std::vector<std::unique_ptr<update::CUpdateFile>> entries;
    while (auto entry = files.PopFront()) entries.push_back(std::move(entry));
    return entries;
  }

  TempDir dir_;
  update::BaseFolders folders_;
};

TEST_F(ManifestToolTest, AReleaseFolderIsPublishedAsTheUpdaterReadsIt) {
  dir_.Write("release/vellari/public/maga/maga1.xml", "<catalogue/>");
  dir_.Write("release/vellari/public/maga/covers/m001.jpg", std::string(3000, 'j'));
  dir_.Write("release/vellari/public/RSS.opml", "<opml/>");
  dir_.Write("release/top.txt", "top");
  const CommandRun run = Manifest({"--base-url=http://h:1/rel/", "--install-dir", "appdatadir",
                                   dir_ / "release", dir_ / "out/manifest.xml"});
  EXPECT_EQ(run.exit_code, 1) << "the output folder does not exist";
  fs::create_directories(dir_ / "out");
  const CommandRun ok = Manifest({"--base-url=http://h:1/rel/", "--install-dir", "appdatadir",
                                  dir_ / "release", dir_ / "out/manifest.xml"});
  ASSERT_EQ(ok.exit_code, 0) << ok.err;
  EXPECT_EQ(ok.out + ok.err, "");
  const std::string text = dir_.Read("out/manifest.xml");
  EXPECT_EQ(
      text.rfind(
          "<?xml version=\"1.0\" encoding=\"GB2312\" ?> \r\n<xmlRoot keyname=\"KeyValue\">\r\n", 0),
      0u);
  EXPECT_NE(text.find("filenum=\"4\">\r\n"), std::string::npos);
  // LocalPath in the manifest's own form, with backslashes.
  EXPECT_NE(text.find("<LocalPath>vellari\\public\\maga\\covers</LocalPath>"), std::string::npos);

  // Ordered by folder, then name; placed below the data home; the URL is the base (its
  // own slash dropped), the folder and the name.
  const auto entries = Read(dir_ / "out/manifest.xml");
  ASSERT_EQ(entries.size(), 4u);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"top.txt", ""},
      {"RSS.opml", "vellari/public"},
      {"maga1.xml", "vellari/public/maga"},
      {"m001.jpg", "vellari/public/maga/covers"}};
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto& [name, local] = expected[i];
    const std::string relative = local.empty() ? name : local + "/" + name;
    EXPECT_EQ(entries[i]->file_name(), name);
    std::string backslashed = local;
    std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
    EXPECT_EQ(entries[i]->local_path(), backslashed);
    EXPECT_EQ(entries[i]->install_dir(), "APPDATADIR");
    EXPECT_EQ(entries[i]->url(), "http://h:1/rel/" + local + "/" + name);
    EXPECT_EQ(entries[i]->target_path(), dir_ / ("home/" + relative));
    EXPECT_EQ(entries[i]->length(), fs::file_size(dir_ / ("release/" + relative)));
    std::string digest;
    ASSERT_TRUE(update::Sha256OfFile(dir_ / ("release/" + relative), &digest).ok());
    EXPECT_EQ(entries[i]->sha256(), digest);
    EXPECT_TRUE(entries[i]->file_version().empty());  // the file times decide
  }

  // Nothing of it is installed yet: every entry is out of date. Installed later than
  // it was published, none is.
  update::CUpdateFiles check(folders_);
  ASSERT_TRUE(check.Load(dir_ / "out/manifest.xml"));
  EXPECT_EQ(check.CheckUpdates(), 4u);
  for (const auto& [name, local] : expected) {
    const std::string relative = local.empty() ? name : local + "/" + name;
    dir_.Write("home/" + relative, dir_.Read("release/" + relative));
    const fs::path installed = dir_ / ("home/" + relative);
    fs::last_write_time(
        installed, fs::last_write_time(dir_ / ("release/" + relative)) + std::chrono::seconds(5));
  }
  ASSERT_TRUE(check.Load(dir_ / "out/manifest.xml"));
  EXPECT_EQ(check.CheckUpdates(), 0u);
}

TEST_F(ManifestToolTest, WhatAManifestCannotCarryIsLeftOutAndNamed) {
  dir_.Write("release/good.txt", "good");
  dir_.Write("outside.txt", "secret");
  dir_.Write("release/a b.txt", "space");
  dir_.Write("release/中文.pdf", "gbk");
  dir_.Write("release/bad\xff.txt", "invalid UTF-8");
  dir_.Write("release/sub dir/hidden.txt", "below a folder with a space");
  dir_.Write("release/" + std::string(250, 'n') + ".txt", "a URL too long");
  fs::create_symlink(dir_ / "outside.txt", dir_ / "release/link.txt");
  fs::create_directory_symlink(dir_.path(), dir_ / "release/loop");
  ASSERT_EQ(mkfifo((dir_ / "release/fifo").c_str(), 0600), 0);  // never opened
  // The manifest written inside the folder it describes is not part of the release.
  const CommandRun run =
      Manifest({"--base-url", "http://h", dir_ / "release", dir_ / "release/manifest.xml"});
  EXPECT_EQ(run.exit_code, 1);
  for (const char* named : {"a b.txt", "中文.pdf", "bad\xff.txt", "sub dir", "link.txt", "loop",
                            "fifo", ".txt: its URL would be longer"})
    EXPECT_NE(run.err.find(named), std::string::npos) << named << "\n" << run.err;
  EXPECT_EQ(run.err.find("hidden.txt"), std::string::npos) << run.err;
  const auto entries = Read(dir_ / "release/manifest.xml");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0]->file_name(), "good.txt");
  EXPECT_EQ(entries[0]->url(), "http://h//good.txt");

  // Publishing it again gives the same entries: the manifest of the first run is left
  // out of the second.
  EXPECT_EQ(Manifest({"--base-url", "http://h", dir_ / "release", dir_ / "release/manifest.xml"})
                .exit_code,
            1);
  EXPECT_EQ(Read(dir_ / "release/manifest.xml").size(), 1u);
}

// With the previous release, a file that changed gets a patch beside it, named in its
// entry; the zstd tool turns the previous version into the new one with it, and so does
// the updater's own code.
TEST_F(ManifestToolTest, ChangedFilesGetPatchesFromThePreviousRelease) {
  std::string old_bytes(200000, '\0');
  for (std::size_t i = 0; i < old_bytes.size(); ++i)
    old_bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
  std::string new_bytes = old_bytes;
  new_bytes.replace(50000, 1000, std::string(1000, 'n'));
  dir_.Write("previous/sub/a.bin", old_bytes);
  dir_.Write("release/sub/a.bin", new_bytes);
  dir_.Write("previous/same.txt", "same");
  dir_.Write("release/same.txt", "same");
  dir_.Write("release/new.txt", "new");
  for (int run = 0; run < 2; ++run) {  // the second run finds the first run's patch there
    const CommandRun ok = Manifest({"--base-url=http://h/rel", "--previous", dir_ / "previous",
                                    dir_ / "release", dir_ / "manifest.xml"});
    ASSERT_EQ(ok.exit_code, 0) << ok.err;
    EXPECT_EQ(ok.out + ok.err, "");
    const auto entries = Read(dir_ / "manifest.xml");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0]->file_name(), "new.txt");
    EXPECT_EQ(entries[1]->file_name(), "same.txt");
    EXPECT_EQ(entries[2]->file_name(), "a.bin");
    EXPECT_EQ(entries[0]->patch_url(), "");
    EXPECT_EQ(entries[1]->patch_url(), "");
    const auto& a = *entries[2];
    EXPECT_EQ(a.patch_url(), "http://h/rel/sub/a.bin.zst-patch");
    const std::string patch = dir_ / "release/sub/a.bin.zst-patch";
    EXPECT_EQ(a.patch_length(), fs::file_size(patch));
    EXPECT_LT(a.patch_length(), 5000u);
    std::string digest;
    ASSERT_TRUE(update::Sha256OfFile(patch, &digest).ok());
    EXPECT_EQ(a.patch_sha256(), digest);
    ASSERT_TRUE(update::Sha256OfFile(dir_ / "previous/sub/a.bin", &digest).ok());
    EXPECT_EQ(a.patch_from(), digest);
    EXPECT_FALSE(fs::exists(dir_ / "release/same.txt.zst-patch"));
    EXPECT_FALSE(fs::exists(dir_ / "release/new.txt.zst-patch"));

    const CommandRun zstd =
        RunCommand({"zstd", "-q", "-f", "-d", "--patch-from=" + dir_ / "previous/sub/a.bin", patch,
                    "-o", dir_ / "by-zstd.bin"});
    ASSERT_EQ(zstd.exit_code, 0) << zstd.err;
    EXPECT_EQ(dir_.Read("by-zstd.bin"), new_bytes);
    fs::remove(dir_ / "by-us.bin");
    ASSERT_TRUE(update::ApplyFilePatch(dir_ / "previous/sub/a.bin", a.patch_from(), patch,
                                       dir_ / "by-us.bin", a.sha256())
                    .ok());
    EXPECT_EQ(dir_.Read("by-us.bin"), new_bytes);
  }
}

TEST_F(ManifestToolTest, CommandLineInTheUsualForm) {
  const CommandRun help = Manifest({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_EQ(help.out.rfind("Usage: lumora-manifest ", 0), 0u) << help.out;
  EXPECT_EQ(help.err, "");
  const CommandRun version = Manifest({"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out, "lumora-manifest " LUMORA_VERSION "\n");

  dir_.MakeDir("release");
  const std::vector<std::pair<std::vector<std::string>, std::string>> mistakes = {
      {{}, "FOLDER and MANIFEST are required"},
      {{dir_ / "release"}, "FOLDER and MANIFEST are required"},
      {{dir_ / "release", dir_ / "m.xml", "more"}, "extra operand 'more'"},
      {{"--frob", dir_ / "release", dir_ / "m.xml"}, "unrecognized option '--frob'"},
      {{dir_ / "release", dir_ / "m.xml", "--base-url"},
       "option '--base-url' requires an argument"},
      {{"--install-dir=C:", dir_ / "release", dir_ / "m.xml"}, "--install-dir 'C:' is not"},
      {{"--release", "7", "--expires", "2030-01-01T00:00:00Z", dir_ / "release", dir_ / "m.xml"},
       "--secret-key, --release and --expires go together"},
      {{"--secret-key", dir_ / "k.sec", "--release", "7", dir_ / "release", dir_ / "m.xml"},
       "--secret-key, --release and --expires go together"},
      {{"--secret-key", dir_ / "k.sec", "--release", "7", "--expires", "2030-01-01 00:00:00",
        dir_ / "release", dir_ / "m.xml"},
       "--expires YYYY-MM-DDTHH:MM:SSZ"},
      {{"--secret-key", dir_ / "k.sec", "--release", "seven", "--expires", "2030-01-01T00:00:00Z",
        dir_ / "release", dir_ / "m.xml"},
       "--release must be a number"},
      {{"--secret-key", dir_ / "k.sec", "--release", "7 release=8", "--expires",
        "2030-01-01T00:00:00Z", dir_ / "release", dir_ / "m.xml"},
       "--release must be a number"},
      {{"--generate-key", dir_ / "k.pub"}, "--generate-key needs PUBFILE and SECFILE"},
  };
  for (const auto& [args, message] : mistakes) {
    const CommandRun run = Manifest(args);
    EXPECT_EQ(run.exit_code, 2) << message;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Try 'lumora-manifest --help' for more information."),
              std::string::npos);
    EXPECT_FALSE(fs::exists(dir_ / "m.xml"));
  }
  // After "--" a name that begins with "-" is a folder.
  dir_.Write("-release/a.txt", "a");
  CommandOptions in_dir;
  in_dir.cwd = dir_.path();
  const CommandRun dashed = RunCommand({LUMORA_MANIFEST_BINARY, "--", "-release", "m.xml"}, in_dir);
  EXPECT_EQ(dashed.exit_code, 0) << dashed.err;
  EXPECT_EQ(Read(dir_ / "m.xml").size(), 1u);
  // A folder that is not one.
  const CommandRun missing = Manifest({dir_ / "none", dir_ / "n.xml"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.err.find("not a folder"), std::string::npos) << missing.err;
}

// A manifest signed by lumora-manifest is one the minisign tool accepts, with the
// release terms as its trusted comment, whether the key was made by minisign or by
// lumora-manifest itself; a key file that is already there is never replaced.
TEST_F(ManifestToolTest, TheMinisignToolAcceptsWhatItSigns) {
  dir_.Write("release/vellari/public/RSS.opml", "<opml/>");
  const CommandRun minisign_made =
      RunCommand({"minisign", "-G", "-W", "-p", dir_ / "m.pub", "-s", dir_ / "m.sec"});
  ASSERT_EQ(minisign_made.exit_code, 0) << minisign_made.err;
  const CommandRun tool_made = Manifest({"--generate-key", dir_ / "t.pub", dir_ / "t.sec"});
  ASSERT_EQ(tool_made.exit_code, 0) << tool_made.err;
  EXPECT_EQ(fs::status(dir_ / "t.sec").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  const std::string kept = dir_.Read("t.pub");
  const CommandRun again = Manifest({"--generate-key", dir_ / "t.pub", dir_ / "t2.sec"});
  EXPECT_EQ(again.exit_code, 1);
  EXPECT_EQ(dir_.Read("t.pub"), kept);
  EXPECT_FALSE(fs::exists(dir_ / "t2.sec"));

  for (const char* key : {"m", "t"}) {
    const std::string manifest = dir_ / (std::string(key) + ".xml");
    const CommandRun signed_run = Manifest({"--secret-key", dir_ / (std::string(key) + ".sec"),
                                            "--release", "42", "--expires", "2031-02-03T04:05:06Z",
                                            "--base-url", "http://h", dir_ / "release", manifest});
    ASSERT_EQ(signed_run.exit_code, 0) << key << ": " << signed_run.err;
    const CommandRun checked =
        RunCommand({"minisign", "-V", "-p", dir_ / (std::string(key) + ".pub"), "-m", manifest});
    EXPECT_EQ(checked.exit_code, 0) << key << ": " << checked.out << checked.err;
    EXPECT_NE(checked.out.find("Trusted comment: release=42 expires=2031-02-03T04:05:06Z"),
              std::string::npos)
        << checked.out;
    // The other key's public half does not accept it.
    const CommandRun other =
        RunCommand({"minisign", "-V", "-p", dir_ / (std::string(key) == "m" ? "t.pub" : "m.pub"),
                    "-m", manifest});
    EXPECT_NE(other.exit_code, 0) << key;
  }
}

}  // namespace
