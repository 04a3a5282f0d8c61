#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "app/BrowserBinding.h"

using namespace velm;

TEST(BrowserBinding, SwitchesNameTheLocalProxyAndTakeLoopbackAlong) {
  EXPECT_EQ(BrowserProxySwitches(15220),
            "--proxy-server=127.0.0.1:15220 --proxy-bypass-list=<-loopback>");
}

TEST(BrowserBinding, AppendsToFlagsAlreadyGivenAndRefusesALateBinding) {
  const char* saved = std::getenv(kEngineFlagsVariable);
  const std::string old = saved ? saved : "";

  unsetenv(kEngineFlagsVariable);
  ASSERT_TRUE(BindBrowserToProxy(4321));
  EXPECT_STREQ(std::getenv(kEngineFlagsVariable),
               "--proxy-server=127.0.0.1:4321 --proxy-bypass-list=<-loopback>");

  setenv(kEngineFlagsVariable, "--disable-gpu", 1);
  ASSERT_TRUE(BindBrowserToProxy(80));
  EXPECT_STREQ(std::getenv(kEngineFlagsVariable),
               "--disable-gpu --proxy-server=127.0.0.1:80 --proxy-bypass-list=<-loopback>");

  setenv(kEngineFlagsVariable, "--disable-gpu", 1);
  EXPECT_FALSE(BindBrowserToProxy(80, true));
  EXPECT_STREQ(std::getenv(kEngineFlagsVariable), "--disable-gpu");

  if (saved)
    setenv(kEngineFlagsVariable, old.c_str(), 1);
  else
    unsetenv(kEngineFlagsVariable);
}
