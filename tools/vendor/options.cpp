#include "options.h"

#include <charconv>
#include <string_view>

namespace vendor {

using base::Status;

std::string VersionText() { return "lumora-vendor " LUMORA_VERSION "\n"; }

std::string UsageText() {
  return "Usage: lumora-vendor --root DIR [--port N] [--bind ADDR] [--log FILE]\n"
         "                     [--tls-cert FILE --tls-key FILE] [--fault PREFIX=SWITCH]...\n"
         "                     [--opds-entries N] [--opds-page-size N] [--opds-book-max BYTES]\n"
         "\n"
         "Plays the vendor's web servers for the Lumora client: login, the list of\n"
         "purchases and the files of DIR (catalogues, server list, updates, items);\n"
         "and OPDS catalogues of its own making under /opds/.\n"
         "\n"
         "  --root DIR       the data folder (accounts.txt, purchases.txt, faults.txt and\n"
         "                   the files served)\n"
         "  --port N         the port to listen on (default 8480; 0 picks a free one)\n"
         "  --bind ADDR      the address to listen on (default 127.0.0.1)\n"
         "  --log FILE       append the head of every request, byte for byte, to FILE\n"
         "  --tls-cert FILE  speak https only, with the certificate chain in FILE (PEM)\n"
         "  --tls-key FILE   the private key of --tls-cert (PEM)\n"
         "  --fault PREFIX=SWITCH\n"
         "                   misbehave on requests whose target starts with PREFIX;\n"
         "                   SWITCH is one of:\n"
         "                     status:CODE     answer with status CODE (200-599)\n"
         "                     no-length       no Content-Length; the body ends when the\n"
         "                                     connection closes\n"
         "                     slow:BYTES:MS   send the body BYTES bytes every MS ms\n"
         "                     drop:BYTES      close the connection after BYTES bytes of body\n"
         "                     hang            never answer\n"
         "                     no-ranges       files always whole (200), ranges ignored\n"
         "                     changing        files change between requests: new\n"
         "                                     validators and bytes each time\n"
         "                     redirect:URL    answer 302 Found to URL (no \"=\" in it)\n"
         "                     resized         OPDS books longer or shorter than their\n"
         "                                     feeds announce\n"
         "                   (repeatable; the first matching switch applies, then those of\n"
         "                   DIR/faults.txt)\n"
         "  --opds-entries N the books of the OPDS catalogue (default 5000)\n"
         "  --opds-page-size N\n"
         "                   entries a page of its feeds (default 50)\n"
         "  --opds-book-max BYTES\n"
         "                   the largest of its book files (default 65536)\n"
         "  -h, --help       print this text and exit\n"
         "  --version        print the version and exit\n"
         "\n"
         "The first line of standard output is \"port N\", the port taken. SIGTERM or\n"
         "SIGINT ends the service with code 0.\n";
}

Status ParseOptions(int argc, const char* const* argv, Options* options) {
  Options parsed;
  bool have_root = false;
  for (int i = 0; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      parsed.help = true;
      continue;
    }
    if (arg == "--version") {
      parsed.version = true;
      continue;
    }
    std::string_view name = arg;
    std::string_view value;
    bool has_value = false;
    std::size_t equals = arg.find('=');
    if (arg.starts_with("--") && equals != std::string_view::npos) {
      name = arg.substr(0, equals);
      value = arg.substr(equals + 1);
      has_value = true;
    }
    if (!arg.starts_with("-")) return Status::Invalid("extra operand '" + std::string(arg) + "'");
    if (name != "--root" && name != "--port" && name != "--bind" && name != "--log" &&
        name != "--fault" && name != "--tls-cert" && name != "--tls-key" &&
        !name.starts_with("--opds-")) {
      return Status::Invalid("unrecognized option '" + std::string(arg) + "'");
    }
    if (!has_value) {
      if (i + 1 >= argc) {
        return Status::Invalid("option '" + std::string(name) + "' requires an argument");
      }
      value = argv[++i];
    }
    if (name == "--root") {
      if (value.empty()) {
        return Status::Invalid("--root needs a folder");
      }
      parsed.root = std::string(value);
      have_root = true;
    } else if (name == "--port") {
      int port = -1;
      auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), port);
      if (value.empty() || ec != std::errc() || end != value.data() + value.size() || port < 0 ||
          port > 65535) {
        return Status::Invalid("--port '" + std::string(value) +
                               "' is not a port number from 0 to 65535");
      }
      parsed.port = port;
    } else if (name == "--bind") {
      if (value.empty()) {
        return Status::Invalid("--bind needs an address");
      }
      parsed.bind = std::string(value);
    } else if (name == "--tls-cert" || name == "--tls-key") {
      if (value.empty()) return Status::Invalid(std::string(name) + " needs a file name");
      (name == "--tls-cert" ? parsed.tls_cert : parsed.tls_key) = std::string(value);
    } else if (name.starts_with("--opds-")) {
      struct Count {
        const char* name;
        std::uint64_t low, high;
        std::uint64_t OpdsOptions::*field;
      };
      static constexpr Count kCounts[] = {
          {"--opds-entries", 0, 10'000'000, &OpdsOptions::entries},
          {"--opds-page-size", 1, 10'000, &OpdsOptions::page_size},
          {"--opds-book-max", 1, std::uint64_t{1} << 32, &OpdsOptions::book_max}};
      const Count* count = nullptr;
      for (const Count& c : kCounts) {
        if (name == c.name) count = &c;
      }
      if (count == nullptr)
        return Status::Invalid("unrecognized option '" + std::string(arg) + "'");
      std::uint64_t number = 0;
      auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), number);
      if (value.empty() || ec != std::errc() || end != value.data() + value.size() ||
          number < count->low || number > count->high) {
        return Status::Invalid(std::string(name) + " '" + std::string(value) +
                               "' is not a number from " + std::to_string(count->low) + " to " +
                               std::to_string(count->high));
      }
      parsed.opds.*(count->field) = number;
    } else if (name == "--log") {
      if (value.empty()) {
        return Status::Invalid("--log needs a file name");
      }
      parsed.log_path = std::string(value);
    } else {
      FaultRule rule;
      if (Status s = ParseFaultRule(value, &rule); !s.ok()) return s;
      parsed.faults.push_back(std::move(rule));
    }
  }
  if (parsed.tls_cert.empty() != parsed.tls_key.empty()) {
    return Status::Invalid("--tls-cert and --tls-key go together");
  }
  if (!have_root && !parsed.help && !parsed.version) {
    return Status::Invalid("--root DIR is required");
  }
  *options = std::move(parsed);
  return Status::Ok();
}

}  // namespace vendor
