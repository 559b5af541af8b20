#include "app/deployment_settings.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "../support/temp_dir.h"

namespace app {

namespace {

TEST(DeploymentSettingsTest, FileBesideTheProgramThenEnvironment) {
  TempDir dir;
  dir.Write("lumora.conf",
            "# vendor hosts\nshop_host = shop.test:81\nlogin_host=login.test\n"
            "unknown=1\nnot a line\nshare_host_2=s2.test\n");
  unsetenv("LUMORA_SHOP_HOST");
  setenv("LUMORA_LOGIN_HOST", "env-login.test", 1);
  DeploymentSettings s = DeploymentSettings::Load(dir / "lumora");
  unsetenv("LUMORA_LOGIN_HOST");
  EXPECT_EQ(s.shop_host, "shop.test:81");
  EXPECT_EQ(s.login_host, "env-login.test");
  EXPECT_EQ(s.share_host_1, DeploymentSettings::kDefaultHost);
  EXPECT_EQ(s.share_host_2, "s2.test");
}

TEST(DeploymentSettingsTest, AServerIsHttpsOnlyWhenItsSettingSaysSo) {
  TempDir dir;
  dir.Write("lumora.conf", "shop_host=HTTPS://shop.test:8443\n");
  setenv("LUMORA_LOGIN_HOST", "https://login.test", 1);
  DeploymentSettings s = DeploymentSettings::Load(dir / "lumora");
  unsetenv("LUMORA_LOGIN_HOST");
  EXPECT_EQ(DeploymentSettings::ServerUrl(s.shop_host), "https://shop.test:8443");
  EXPECT_EQ(DeploymentSettings::ServerUrl(s.login_host), "https://login.test");
  EXPECT_EQ(DeploymentSettings::ServerUrl("http://plain.test"), "http://plain.test");
  EXPECT_EQ(DeploymentSettings::ServerUrl("bare.test:81"), "http://bare.test:81");
  EXPECT_EQ(DeploymentSettings::ServerUrl("https"), "http://https");
}

TEST(DeploymentSettingsTest, NoFileMeansLoopbackDefaults) {
  TempDir dir;
  DeploymentSettings s = DeploymentSettings::Load(dir / "lumora");
  EXPECT_EQ(s.shop_host, "127.0.0.1:8480");
  EXPECT_EQ(s.share_host_3, "127.0.0.1:8480");
}

}  // namespace

}  // namespace app
