#include "support/test_ca.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/command.h"

namespace {

// Runs openssl with |args|; the test fails when it does.
void OpenSsl(std::vector<std::string> args) {
  args.insert(args.begin(), "openssl");
  const CommandRun run = RunCommand(args);
  ASSERT_EQ(run.exit_code, 0) << run.err;
}

std::vector<std::string> NewKey(const std::string& key) {
  return {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout", key};
}

}  // namespace

TestCa::TestCa() : ca_file_(dir_ / "ca.pem") {
  std::vector<std::string> args = {"req",   "-x509", "-subj", "/CN=Lumora Test CA",
                                   "-days", "2",     "-out",  ca_file_};
  const auto key = NewKey(dir_ / "ca.key");
  args.insert(args.end(), key.begin(), key.end());
  OpenSsl(args);
}

TestCa::Issued TestCa::Issue(const std::string& name, const std::string& names, int days,
                             bool self_signed) const {
  const Issued issued{dir_ / (name + ".pem"), dir_ / (name + ".key")};
  dir_.Write(name + ".ext", "subjectAltName=" + names + "\n");
  std::vector<std::string> request = {"req", "-subj", "/CN=" + name, "-out",
                                      dir_ / (name + ".csr")};
  const auto key = NewKey(issued.key);
  request.insert(request.end(), key.begin(), key.end());
  OpenSsl(request);
  std::vector<std::string> sign = {"x509",     "-req",
                                   "-in",      dir_ / (name + ".csr"),
                                   "-days",    std::to_string(days),
                                   "-extfile", dir_ / (name + ".ext"),
                                   "-out",     issued.cert};
  if (self_signed) {
    sign.insert(sign.end(), {"-signkey", issued.key});
  } else {
    sign.insert(sign.end(), {"-CA", ca_file_, "-CAkey", dir_ / "ca.key"});
  }
  OpenSsl(sign);
  return issued;
}

ScopedTrust::ScopedTrust(const std::string& value, const char* name) : name_(name) {
  if (const char* old = std::getenv(name_)) old_ = old;
  if (value.empty()) {
    unsetenv(name_);
  } else {
    setenv(name_, value.c_str(), 1);
  }
}

ScopedTrust::~ScopedTrust() {
  if (old_) {
    setenv(name_, old_->c_str(), 1);
  } else {
    unsetenv(name_);
  }
}
