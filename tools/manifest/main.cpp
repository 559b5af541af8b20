// lumora-manifest [--base-url URL] [--install-dir MACRO] FOLDER MANIFEST
//
// Publishes a release: writes the update manifest of every file below FOLDER, as the
// updater reads it, with each file's size, time and SHA-256 digest, its sub-folder as
// LocalPath and base URL + "/" + LocalPath + "/" + name as its URL.
#include <strings.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ansi.h"
#include "release_files.h"
#include "update/update_files.h"

namespace {

constexpr const char* kUsage =
    "Usage: lumora-manifest [--base-url URL] [--install-dir MACRO] FOLDER MANIFEST\n"
    "Writes MANIFEST, the update manifest of every file below FOLDER: its size, time and\n"
    "SHA-256 digest, its folder below FOLDER as LocalPath, and URL/LocalPath/NAME as the\n"
    "address the updater downloads it from. Links, files that are not regular files and\n"
    "names that would need escaping in a URL (other than letters, digits and \"-._~\")\n"
    "are left out and named on standard error.\n"
    "\n"
    "      --base-url URL     the address of FOLDER on the update server\n"
    "      --install-dir MACRO  where the files are installed: CURRENTDIR (the program's\n"
    "                         folder, the default), APPDATADIR (the user's data home),\n"
    "                         WINDOWSDIR or SYSTEMDIR\n"
    "  -h, --help             display this help and exit\n"
    "      --version          output version information and exit\n"
    "\n"
    "Exit status: 0 when every file is in the manifest, 1 when some were left out or the\n"
    "manifest could not be written, 2 for a mistake in the arguments.\n";

struct Options {
  std::string base_url;
  std::string install_dir = "CURRENTDIR";
  std::vector<std::string> operands;
  bool help = false;
  bool version = false;
};

int Usage(const std::string& error) {
  std::fprintf(stderr, "lumora-manifest: %s\nTry 'lumora-manifest --help' for more information.\n",
               error.c_str());
  return 2;
}

// GNU style: "--name value" or "--name=value"; "--" ends the options. 0 when the
// arguments were read, else the exit code.
int ReadOptions(int argc, char** argv, Options* options) {
  bool operands_only = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (operands_only || arg.size() < 2 || arg[0] != '-') {
      options->operands.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      operands_only = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      options->help = true;
      return 0;
    }
    if (arg == "--version") {
      options->version = true;
      return 0;
    }
    const std::size_t equals = arg.find('=');
    const std::string_view name = arg.substr(0, equals);
    if (name != "--base-url" && name != "--install-dir")
      return Usage("unrecognized option '" + std::string(arg) + "'");
    std::string value;
    if (equals != std::string_view::npos) {
      value = arg.substr(equals + 1);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      return Usage("option '" + std::string(name) + "' requires an argument");
    }
    if (name == "--base-url") {
      // The URL of a file is base + "/" + ...: no slash of the base's own doubles it.
      while (!value.empty() && value.back() == '/') value.pop_back();
      options->base_url = value;
    } else {
      bool known = false;
      for (const char* macro : {"CURRENTDIR", "APPDATADIR", "WINDOWSDIR", "SYSTEMDIR"}) {
        if (strcasecmp(value.c_str(), macro) == 0) {
          options->install_dir = macro;
          known = true;
        }
      }
      if (!known) return Usage("--install-dir '" + value + "' is not a directory macro");
    }
  }
  if (options->operands.size() < 2) return Usage("FOLDER and MANIFEST are required");
  if (options->operands.size() > 2) return Usage("extra operand '" + options->operands[2] + "'");
  return 0;
}

int Run(const Options& options) {
  const std::string& folder = options.operands[0];
  const std::string& output = options.operands[1];
  std::vector<manifest::ReleaseFile> files;
  std::vector<manifest::LeftOut> left_out;
  std::string error;
  if (!manifest::ListRelease(folder, output, options.base_url.size(), &files, &left_out, &error)) {
    std::fprintf(stderr, "lumora-manifest: %s\n", error.c_str());
    return 1;
  }
  if (files.size() > update::CUpdateFiles::kMaxEntries) {
    std::fprintf(stderr, "lumora-manifest: %zu files: the updater reads at most %zu\n",
                 files.size(), update::CUpdateFiles::kMaxEntries);
    return 1;
  }
  // No folders of this user take part: the entries are the release's own.
  update::CUpdateFiles manifest{update::BaseFolders{}};
  for (const manifest::ReleaseFile& file : files) {
    std::string core;
    if (!ansi::CorePath(file.native_path, &core) ||
        !manifest.AddScannedFile(core, options.install_dir, file.local_path))
      left_out.push_back({file.native_path, "cannot be read"});
  }
  for (const manifest::LeftOut& item : left_out)
    std::fprintf(stderr, "lumora-manifest: %s: %s; left out\n", item.native_path.c_str(),
                 item.reason.c_str());
  manifest.SetBaseUrl(options.base_url);
  std::string core_output;
  if (!ansi::CorePath(output, &core_output) || !manifest.Save(core_output)) {
    std::fprintf(stderr, "lumora-manifest: cannot write %s\n", output.c_str());
    return 1;
  }
  return left_out.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (int code = ReadOptions(argc, argv, &options); code != 0) return code;
  if (options.help || options.version) {
    std::fputs(options.help ? kUsage : "lumora-manifest " LUMORA_VERSION "\n", stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  return Run(options);
}
