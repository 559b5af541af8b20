// A data folder of the test's own and a lumora-vendor serving it.
#ifndef LUMORA_TESTS_VENDOR_VENDOR_FIXTURE_H_
#define LUMORA_TESTS_VENDOR_VENDOR_FIXTURE_H_

#include <gtest/gtest.h>
#include <signal.h>

#include <memory>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/vendor_process.h"

class VendorTest : public ::testing::Test {
 protected:
  void TearDown() override {
    // Every service of a test must end cleanly on SIGTERM.
    if (vendor_) {
      EXPECT_EQ(vendor_->Stop(SIGTERM), 0) << vendor_->Errors();
    }
  }

  void Start(std::vector<std::string> args = {}) {
    args.insert(args.begin(), {"--root", root_.path()});
    vendor_ = std::make_unique<VendorProcess>(args);
    ASSERT_GT(vendor_->port(), 0);
  }
  int port() const { return vendor_->port(); }
  HttpReply Get(const std::string& target) { return Exchange(port(), Get10(target)); }

  TempDir root_;
  TempDir scratch_;  // beside the data folder, never served
  std::unique_ptr<VendorProcess> vendor_;
};

#endif  // LUMORA_TESTS_VENDOR_VENDOR_FIXTURE_H_
