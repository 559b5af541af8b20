// The command line of lumora-vendor: help, bad options, a port already taken and the
// signals that end it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "vendor_fixture.h"

namespace {

TEST(VendorCommandLine, HelpAndVersionPrintAndEndWithZero) {
  VendorRun run = RunVendor({"--help"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out.rfind("Usage: lumora-vendor --root DIR", 0), 0u) << run.out;
  for (const char* word : {"--port", "--bind", "--log", "--fault", "no-length",
                           "slow:", "drop:", "hang", "status:", "--version"}) {
    EXPECT_NE(run.out.find(word), std::string::npos) << word;
  }
  EXPECT_EQ(run.err, "");
  // The version alone, in the usual form: the program's name, a space, the version.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--version"},
        std::vector<std::string>{"--port", "1", "--version"}}) {
    VendorRun version = RunVendor(args);
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out, "lumora-vendor " LUMORA_VERSION "\n");
    EXPECT_EQ(version.err, "");
  }
}

TEST(VendorCommandLine, BadOptionsAreNamedOnStandardErrorWithCode2) {
  TempDir root;
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "--root DIR is required"},
      {{"--port", "0"}, "--root DIR is required"},
      {{"--root", root.path(), "--frobnicate"}, "unrecognized option '--frobnicate'"},
      {{"--root", root.path(), "--port", "http"}, "--port 'http'"},
      {{"--root", root.path(), "--port", "65536"}, "--port '65536'"},
      {{"--root", root.path(), "--port", "-1"}, "--port '-1'"},
      {{"--root", root.path(), "--port"}, "option '--port' requires an argument"},
      {{"--root", root.path(), "--fault", "/x=explode"}, "fault switch 'explode'"},
      {{"--root", root.path(), "--fault", "/x=status:99"}, "fault switch 'status:99'"},
      {{"--root", root.path(), "--fault", "nothing"}, "not PREFIX=SWITCH"},
      {{"--root", root.path(), "--fault", "x=hang"}, "does not start with '/'"},
      {{"--root", root.path(), "extra"}, "extra operand 'extra'"},
      {{"--root", root.path(), "--fault", "/x=redirect:"}, "fault switch 'redirect:'"},
      {{"--root", root.path(), "--tls-cert", "c.pem"}, "--tls-cert and --tls-key go together"},
      {{"--root", root.path(), "--opds-page-size", "0"}, "--opds-page-size '0' is not a number"},
      {{"--root", root.path(), "--opds-pages", "2"}, "unrecognized option '--opds-pages'"},
  };
  for (const auto& [args, message] : cases) {
    VendorRun run = RunVendor(args);
    EXPECT_EQ(run.exit_code, 2) << message;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Try 'lumora-vendor --help' for more information."), std::string::npos)
        << run.err;
    EXPECT_EQ(run.out, "") << message;
  }
}

TEST(VendorCommandLine, UnusableRootOrLogEndsWithCode1) {
  TempDir scratch;
  scratch.Write("file", "x");
  VendorRun missing = RunVendor({"--root", scratch / "missing", "--port", "0"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.err.find("--root " + (scratch / "missing")), std::string::npos) << missing.err;
  VendorRun file = RunVendor({"--root", scratch / "file", "--port", "0"});
  EXPECT_EQ(file.exit_code, 1);
  EXPECT_NE(file.err.find("not a folder"), std::string::npos) << file.err;
  VendorRun log = RunVendor({"--root", scratch.path(), "--port", "0", "--log", scratch.path()});
  EXPECT_EQ(log.exit_code, 1);
  EXPECT_NE(log.err.find("request log"), std::string::npos) << log.err;
  VendorRun tls = RunVendor({"--root", scratch.path(), "--port", "0", "--tls-cert",
                             scratch / "file", "--tls-key", scratch / "file"});
  EXPECT_EQ(tls.exit_code, 1);
  EXPECT_NE(tls.err.find("no PEM certificate chain"), std::string::npos) << tls.err;
}

TEST(VendorCommandLine, PortInUseIsAClearError) {
  TempDir root;
  // A port held by a listening socket of the test.
  int holder = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(holder, 1), 0);
  socklen_t length = sizeof address;
  getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length);
  std::string port = std::to_string(ntohs(address.sin_port));
  VendorRun run = RunVendor({"--root", root.path(), "--port", port});
  close(holder);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("cannot listen on 127.0.0.1:" + port + ": Address already in use"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.out, "");
}

TEST(VendorCommandLine, PortOfARunningServiceIsNotShared) {
  TempDir root;
  VendorProcess first({"--root", root.path()});
  ASSERT_GT(first.port(), 0);
  std::string port = std::to_string(first.port());
  VendorRun second = RunVendor({"--root", root.path(), "--port", port});
  EXPECT_EQ(second.exit_code, 1);
  EXPECT_NE(second.err.find("cannot listen on 127.0.0.1:" + port + ": Address already in use"),
            std::string::npos)
      << second.err;
  EXPECT_EQ(first.Stop(SIGTERM), 0);
}

TEST(VendorCommandLine, BadBindAddressIsAClearError) {
  TempDir root;
  VendorRun run = RunVendor({"--root", root.path(), "--port", "0", "--bind", "300.1.2.3"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("cannot listen on 300.1.2.3:0"), std::string::npos) << run.err;
}

TEST(VendorCommandLine, SigintAndSigtermEndWithZero) {
  TempDir root;
  root.Write("a.txt", "A");
  for (int signal_number : {SIGINT, SIGTERM}) {
    VendorProcess vendor({"--root", root.path()});
    ASSERT_GT(vendor.port(), 0);
    EXPECT_EQ(Exchange(vendor.port(), Get10("/a.txt")).body, "A");
    EXPECT_EQ(vendor.Stop(signal_number), 0) << vendor.Errors();
  }
  // Stopped at once after it has printed its port, before any request.
  VendorProcess quick({"--root", root.path()});
  EXPECT_EQ(quick.Stop(SIGTERM), 0);
}

TEST(VendorCommandLine, BindsTheGivenAddressAndPrintsThePortItTook) {
  TempDir root;
  root.Write("a.txt", "A");
  VendorProcess vendor({"--root", root.path(), "--bind", "127.0.0.1"});
  ASSERT_GT(vendor.port(), 0);
  EXPECT_EQ(Exchange(vendor.port(), Get10("/a.txt")).body, "A");
  EXPECT_EQ(vendor.Stop(SIGTERM), 0);
}

}  // namespace
