// The update window's one list of transfers under load: a release of 145 files fetched
// from a lumora-vendor on loopback, once alone and once beside ten shelf downloads from
// a server that trickles (a body of 1 MiB, 1 KiB every 200 ms, which outlasts the
// update). Each run is the real update window on the headless face, in this process,
// from its start to the movie's UpdateResult; it prints both times and their ratio
// (beside / alone; the goal is at most 1.2).
//
//   build/bench/queue_bench [RUNS]   (default 1 run of each, interleaved)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "../tests/support/temp_dir.h"
#include "../tests/support/vendor_process.h"
#include "platform/platform.h"
#include "update/auto_update_client_dlg.h"

namespace {

constexpr int kFiles = 145;
constexpr int kDownloads = 10;
constexpr int kTimeoutMs = 300000;

// Remembers when the movie hears the update's result.
class ResultWatch : public update::MovieVariables {
 public:
  void SetVariable(const std::string& name, const std::string& value) override {
    if (name == "UpdateResult") result = value;
  }
  std::string result;
};

// One update run; its time in ms from start-up to UpdateResult, or -1 when it never came
// or failed.
double RunUpdate(const VendorProcess& vendor, bool beside) {
  const TempDir home;
  const std::string base = "http://127.0.0.1:" + std::to_string(vendor.port());
  std::FILE* out = std::fopen("/dev/null", "w");
  if (out == nullptr) return -1;
  std::unique_ptr<platform::Platform> face =
      platform::CreateHeadlessPlatform(-1, out, platform::Rect{0, 0, 800, 600});
  const update::BaseFolders folders{home / "prog",
                                    home / "data/vellari/windows",
                                    home / "data/vellari/system",
                                    home / "data",
                                    home / "data/vellari/installed-versions.txt",
                                    home / "data/vellari/download-folders.txt",
                                    home / "data/vellari/public",
                                    home / "data/vellari/release-journal.txt",
                                    {},
                                    home / "prog/release-keys.pub",
                                    home / "data/vellari/installed-release.txt"};
  home.MakeDir("prog/downloaded");
  ResultWatch watch;
  double elapsed = -1;
  {
    update::CAutoUpdateClientDlg client(
        {face->loop(), face->update_window(), face->dialogs(), face->shell()},
        base + "/Storage/XmlFile/serverlist.txt", true, folders);
    client.SetFlashControl(&watch);
    const auto start = std::chrono::steady_clock::now();
    if (client.OnInitDialog()) {
      bool added = true;
      for (int i = 0; beside && i < kDownloads; ++i) {
        const std::string key = "d" + std::to_string(i);
        added &= client.AddDownload(key, key, base + "/trickle/big.bin",
                                    home / ("prog/downloaded/" + key + ".bin"));
      }
      face->loop().SetTimer(1, 10, [&] {
        const auto now = std::chrono::steady_clock::now();
        const double ms = std::chrono::duration<double, std::milli>(now - start).count();
        if (!watch.result.empty() || ms > kTimeoutMs) {
          if (watch.result == "ok") elapsed = ms;
          face->loop().Quit(0);
        }
      });
      if (added) face->loop().Run();
    }
  }
  std::fclose(out);
  return elapsed;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
  const TempDir root;
  VendorProcess vendor({"--root", root.path(), "--fault", "/trickle=slow:1024:200"});
  const std::string base = "http://127.0.0.1:" + std::to_string(vendor.port());
  root.Write("Storage/XmlFile/serverlist.txt", "main|" + base + "/update/manifest.xml\r\n");
  std::string entries;
  for (int i = 0; i < kFiles; ++i) {
    const std::string name = "f" + std::to_string(i) + ".bin";
    root.Write("update/files/" + name, std::string(4096, static_cast<char>('a' + i % 26)));
    entries += "<File><FileName>" + name +
               "</FileName><Length>4096</Length><InstallDir>APPDATADIR</InstallDir>"
               "<LocalPath>vellari\\public\\upd</LocalPath><URL>" +
               base + "/update/files/" + name + "</URL></File>\r\n";
  }
  root.Write("update/manifest.xml",
             "<?xml version=\"1.0\" encoding=\"GB2312\" ?> \r\n<xmlRoot keyname=\"KeyValue\">\r\n"
             "<Product productname=\"P\" createdate=\"2026-01-01 00:00:00\" filenum=\"" +
                 std::to_string(kFiles) + "\">\r\n" + entries + "</Product>\r\n</xmlRoot>\r\n");
  // The trickling body outlasts the update: its downloads are still running at its end.
  root.Write("trickle/big.bin", std::string(1 << 20, 'x'));

  std::vector<double> alone, beside;
  for (int i = 0; i < runs; ++i) {
    alone.push_back(RunUpdate(vendor, false));
    beside.push_back(RunUpdate(vendor, true));
    std::printf("run %d: update alone %.0f ms, beside %d trickling downloads %.0f ms\n", i + 1,
                alone.back(), kDownloads, beside.back());
  }
  vendor.Stop();
  const auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  const double a = median(alone), b = median(beside);
  if (a <= 0 || b <= 0) {
    std::printf("an update did not end with \"ok\" (alone %.0f, beside %.0f)\n", a, b);
    return 1;
  }
  std::printf("update of %d files beside %d downloads / alone: %.2f\n", kFiles, kDownloads, b / a);
  return 0;
}
