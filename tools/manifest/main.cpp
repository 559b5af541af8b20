// lumora-manifest [--base-url URL] [--install-dir MACRO] [--previous DIR]
//                 [--secret-key FILE --release N --expires TIME] FOLDER MANIFEST
// lumora-manifest --generate-key PUBFILE SECFILE
//
// Publishes a release: writes the update manifest of every file below FOLDER, as the
// updater reads it, with each file's size, time and SHA-256 digest, its sub-folder as
// LocalPath and base URL + "/" + LocalPath + "/" + name as its URL. With --previous,
// each file whose previous version (the same LocalPath and name below DIR) differs
// also gets a patch from that version, NAME.zst-patch beside it, named in its entry.
// With a secret key, signs the manifest in MANIFEST.minisig as minisign does.
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "base/ansi.h"
#include "base/files.h"
#include "release_files.h"
#include "update/file_digest.h"
#include "update/file_patch.h"
#include "update/minisign.h"
#include "update/update_files.h"

namespace {

constexpr const char* kUsage =
    "Usage: lumora-manifest [--base-url URL] [--install-dir MACRO] [--previous DIR]\n"
    "                       [--secret-key FILE --release N --expires TIME] FOLDER MANIFEST\n"
    "  or:  lumora-manifest --generate-key PUBFILE SECFILE\n"
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
    "      --previous DIR     the previous release: each file whose previous version\n"
    "                         below DIR differs gets a patch from it, written beside\n"
    "                         the file as NAME.zst-patch (zstd --patch-from) and named\n"
    "                         in its entry\n"
    "      --secret-key FILE  sign MANIFEST with this minisign secret key (unencrypted,\n"
    "                         as `minisign -G -W` writes it) into MANIFEST.minisig\n"
    "      --release N        the release number the signature carries (with --secret-key)\n"
    "      --expires TIME     when the release stops being installed, as\n"
    "                         YYYY-MM-DDTHH:MM:SSZ (UTC; with --secret-key)\n"
    "      --generate-key     write a new key pair: PUBFILE (for release-keys.pub) and\n"
    "                         SECFILE (the secret key, mode 0600; keep it offline)\n"
    "  -h, --help             display this help and exit\n"
    "      --version          output version information and exit\n"
    "\n"
    "Exit status: 0 when every file is in the manifest, 1 when some were left out or the\n"
    "manifest could not be written, 2 for a mistake in the arguments.\n";

struct Options {
  std::string base_url;
  std::string install_dir = "CURRENTDIR";
  std::string secret_key;
  std::string release;
  std::string expires;
  bool generate_key = false;
  std::string previous;
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
    if (arg == "--generate-key") {
      options->generate_key = true;
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string_view name = arg.substr(0, equals);
    if (name != "--base-url" && name != "--install-dir" && name != "--secret-key" &&
        name != "--release" && name != "--expires" && name != "--previous")
      return Usage("unrecognized option '" + std::string(arg) + "'");
    std::string value;
    if (equals != std::string_view::npos) {
      value = arg.substr(equals + 1);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      return Usage("option '" + std::string(name) + "' requires an argument");
    }
    if (name == "--previous") {
      options->previous = value;
    } else if (name == "--secret-key") {
      options->secret_key = value;
    } else if (name == "--release") {
      options->release = value;
    } else if (name == "--expires") {
      options->expires = value;
    } else if (name == "--base-url") {
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
  if (options->generate_key) {
    if (options->operands.size() != 2) return Usage("--generate-key needs PUBFILE and SECFILE");
    return 0;
  }
  const bool signing = !options->secret_key.empty();
  if (signing != !options->release.empty() || signing != !options->expires.empty())
    return Usage("--secret-key, --release and --expires go together");
  if (signing) {
    std::string comment = "release=" + options->release + " expires=" + options->expires;
    update::minisign::ReleaseTerms terms;
    if (!update::minisign::ParseReleaseTerms(comment, &terms).ok())
      return Usage("--release must be a number and --expires YYYY-MM-DDTHH:MM:SSZ");
  }
  if (options->operands.size() < 2) return Usage("FOLDER and MANIFEST are required");
  if (options->operands.size() > 2) return Usage("extra operand '" + options->operands[2] + "'");
  return 0;
}

// Writes |text| as a new file at |path| with |mode|; an existing file is never replaced.
bool WriteNewFile(const std::string& path, const std::string& text, mode_t mode) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) {
    std::perror(("lumora-manifest: " + path).c_str());
    return false;
  }
  const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  const bool closed = close(fd) == 0;
  if (!written || !closed) {
    std::fprintf(stderr, "lumora-manifest: cannot write %s\n", path.c_str());
    unlink(path.c_str());
    return false;
  }
  return true;
}

int GenerateKey(const Options& options) {
  std::string public_file, secret_file;
  if (base::Status made = update::minisign::GenerateKeyPair(&public_file, &secret_file);
      !made.ok()) {
    std::fprintf(stderr, "lumora-manifest: %s\n", made.message().c_str());
    return 1;
  }
  if (!WriteNewFile(options.operands[1], secret_file, 0600)) return 1;
  if (!WriteNewFile(options.operands[0], public_file, 0644)) {
    unlink(options.operands[1].c_str());
    return 1;
  }
  return 0;
}

// Signs the manifest at |output| into |output| + ".minisig" (prehashed, as minisign).
bool SignManifest(const Options& options, const std::string& output) {
  std::string key_text, manifest_text, signature;
  update::minisign::SecretKey key;
  base::Status status =
      base::ReadRegularFile(options.secret_key, update::minisign::kMaxKeyFileBytes, &key_text);
  if (status.ok()) status = update::minisign::ParseSecretKey(key_text, &key);
  if (!status.ok()) {
    std::fprintf(stderr, "lumora-manifest: %s: %s\n", options.secret_key.c_str(),
                 status.message().c_str());
    return false;
  }
  status = base::ReadRegularFile(output, update::CUpdateFiles::kMaxFileBytes, &manifest_text);
  if (status.ok())
    status = update::minisign::Sign(key, manifest_text,
                                    "release=" + options.release + " expires=" + options.expires,
                                    &signature);
  if (status.ok()) status = base::ReplaceFileContents(output + ".minisig", signature);
  if (!status.ok()) {
    std::fprintf(stderr, "lumora-manifest: cannot sign %s: %s\n", output.c_str(),
                 status.message().c_str());
    return false;
  }
  return true;
}

// Makes the patch of |file| from its previous version, when there is one that differs,
// and names it in the file's entry. False (said on standard error) when a patch was
// due and could not be made; the entry then offers none and the whole file serves.
bool OfferPatch(const Options& options, const manifest::ReleaseFile& file, const std::string& core,
                std::size_t base_url_size, update::CUpdateFiles* manifest) {
  const std::string relative =
      file.local_path.empty() ? file.name : file.local_path + "/" + file.name;
  const std::string previous = options.previous + "/" + relative;
  std::string old_digest, new_digest;
  if (!base::PathExists(previous)) return true;
  const base::Status old_read = update::Sha256OfFile(previous, &old_digest);
  const base::Status new_read = update::Sha256OfFile(file.native_path, &new_digest);
  if (!old_read.ok() || !new_read.ok()) {
    std::fprintf(stderr, "lumora-manifest: %s: no patch\n",
                 (old_read.ok() ? new_read : old_read).ToString().c_str());
    return false;
  }
  if (old_digest == new_digest) return true;
  const std::string patch_name = file.name + update::kPatchSuffix;
  // The manifest reader takes no value longer than 259 bytes, the patch's URL included.
  if (base_url_size + 2 + file.local_path.size() + patch_name.size() > 259) {
    std::fprintf(stderr, "lumora-manifest: %s: the patch's URL would be too long; no patch\n",
                 file.native_path.c_str());
    return false;
  }
  const std::string patch = file.native_path + update::kPatchSuffix;
  std::string patch_digest;
  struct stat st;
  base::Status made = update::MakeFilePatch(previous, file.native_path, patch);
  if (made.ok()) made = update::Sha256OfFile(patch, &patch_digest);
  if (made.ok() && stat(patch.c_str(), &st) != 0) made = base::PosixError(patch, errno);
  if (!made.ok() || !manifest->SetPatch(core, patch_name, old_digest,
                                        static_cast<std::uint64_t>(st.st_size), patch_digest)) {
    std::fprintf(stderr, "lumora-manifest: %s: no patch: %s\n", file.native_path.c_str(),
                 made.ToString().c_str());
    unlink(patch.c_str());
    return false;
  }
  return true;
}

int Run(const Options& options) {
  if (options.generate_key) return GenerateKey(options);
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
  bool patches_failed = false;
  for (const manifest::ReleaseFile& file : files) {
    std::string core;
    if (!ansi::CorePath(file.native_path, &core) ||
        !manifest.AddScannedFile(core, options.install_dir, file.local_path)) {
      left_out.push_back({file.native_path, "cannot be read"});
      continue;
    }
    if (!options.previous.empty() &&
        !OfferPatch(options, file, core, options.base_url.size(), &manifest))
      patches_failed = true;
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
  if (!options.secret_key.empty() && !SignManifest(options, output)) return 1;
  return left_out.empty() && !patches_failed ? 0 : 1;
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
