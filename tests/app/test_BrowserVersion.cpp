#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "app/BrowserVersion.h"
#include "platform/Registry.h"

using namespace velm;

TEST(BrowserVersion, RuleOnTheTextBeforeTheFirstDot) {
  struct Case {
    std::optional<std::string> version;  // nullopt: no value at all
    bool good;
  } cases[] = {
      {"6.0.2900.2180", true},
      {"6.0", true},
      {"9", false},  // a bare number without a dot
      {"9.", true},
      {"9.anything", true},
      {"108.0.5359.220", true},  // what the embedded engine reports
      {"5.5", false},
      {"5.99.6", false},
      {"", false},
      {".6", false},
      {"x6.0", false},
      {"6x.0", false},
      {" 6.0", false},
      {"-7.0", false},
      {"99999999999999999999.0", false},  // no integer fits
      {std::nullopt, false},
  };
  for (const auto& c : cases) {
    auto registry = std::make_unique<TMemoryRegistry>();
    if (c.version)
      registry->WriteValue(TRegRoot::LocalMachine, kBrowserVersionKey, "Version",
                           TRegValue::FromString(*c.version));
    SetRegistry(std::move(registry));
    const std::string shown = c.version.value_or("<missing>");
    EXPECT_EQ(ReadBrowserVersion(), c.version.value_or("")) << shown;
    EXPECT_EQ(BrowserVersionPasses(), c.good) << shown;
  }
  SetRegistry(nullptr);
}

TEST(BrowserVersion, ValueOfAnotherKindOrUnderAnotherRootCountsAsMissing) {
  auto registry = std::make_unique<TMemoryRegistry>();
  registry->WriteValue(TRegRoot::LocalMachine, kBrowserVersionKey, "Version",
                       TRegValue::FromDWord(7));
  registry->WriteValue(TRegRoot::CurrentUser, kBrowserVersionKey, "Version",
                       TRegValue::FromString("8.0"));
  SetRegistry(std::move(registry));
  EXPECT_EQ(ReadBrowserVersion(), "");
  EXPECT_FALSE(BrowserVersionPasses());
  SetRegistry(nullptr);
}

TEST(BrowserVersion, DefaultRegistryAnswersTheEngineVersion) {
  SetRegistry(nullptr);
  auto* engine = dynamic_cast<TLinuxRegistry*>(&Registry());
  ASSERT_NE(engine, nullptr);
  engine->SetBrowserVersion("108.0.5359.220");
  EXPECT_TRUE(BrowserVersionPasses());
  engine->SetBrowserVersion("");
  EXPECT_FALSE(BrowserVersionPasses());
}
