#include <gtest/gtest.h>

#include <cstring>

#include "app/HotKeys.h"
#include "platform/ExceptionInfo.h"
#include "plugins/Plugins.h"
#include "plugins/PluginsAPI.h"
#include "plugins/support/PluginTestSupport.h"

using namespace velm;
using velm::test::PointerText;
using velm::test::TPluginFolder;
using velm::test::TRecording;
using velm::test::TRecordingBrowser;

TEST(PluginTexts, WideStringLayout) {
  VelmWideString s = NewWideString(u"Аб1");
  ASSERT_NE(s, nullptr);
  uint32_t bytes = 0;
  std::memcpy(&bytes, reinterpret_cast<const char*>(s) - 4, 4);
  EXPECT_EQ(bytes, 6u);  // a byte count, not a character count
  EXPECT_EQ(s[0], u'А');
  EXPECT_EQ(s[3], 0);
  EXPECT_EQ(VelmWideStringLength(s), 3u);
  EXPECT_EQ(WideStringText(s), u"Аб1");
  VelmWideStringFree(s);

  EXPECT_EQ(NewWideString(u""), nullptr);  // the empty text is the null pointer
  EXPECT_EQ(WideStringText(nullptr), u"");
  VelmWideStringFree(nullptr);
}

TEST(PluginTexts, CountedStringReferences) {
  VelmAnsiString s = VelmAnsiStringAlloc("abc", 3);
  int32_t header[2];
  std::memcpy(header, s - 8, 8);
  EXPECT_EQ(header[0], 1);  // reference count
  EXPECT_EQ(header[1], 3);  // length
  EXPECT_EQ(s[3], '\0');

  VelmAnsiString second = VelmAnsiStringAddRef(s);
  VelmAnsiStringRelease(&s);
  EXPECT_EQ(s, nullptr);
  EXPECT_STREQ(second, "abc");                // still alive: the second reference holds it
  VelmAnsiStringAssign(&second, "replaced");  // frees the old text with its last reference
  EXPECT_EQ(VelmAnsiStringLength(second), 8);
  VelmAnsiStringRelease(&second);

  VELM_ANSI_CONSTANT(constant, "fixed");
  VelmAnsiString c = VELM_ANSI_CONSTANT_TEXT(constant);
  EXPECT_EQ(VelmAnsiStringAddRef(c), c);
  VelmAnsiStringRelease(&c);  // never written, never freed
  EXPECT_EQ(constant.RefCount, -1);
  EXPECT_EQ(VelmAnsiStringLength(VELM_ANSI_CONSTANT_TEXT(constant)), 5);
}

TEST(PluginTexts, VariantsReadLeniently) {
  TVariant i, b, s, num, bad, empty, ref;
  i.Int(-7);
  b.Bool(true);
  s.String(u"текст");
  num.String(u"12");
  bad.String(u"12x");
  VelmVariant* target = s.Ptr();
  ref.Ptr()->Type = VELM_VT_BYREF_VARIANT;
  ref.Ptr()->Value.Ref = target;

  EXPECT_EQ(VariantInt(i.Ptr()), -7);
  EXPECT_EQ(VariantInt(num.Ptr()), 12);
  EXPECT_EQ(VariantInt(bad.Ptr(), 9), 9);
  EXPECT_EQ(VariantInt(nullptr, 4), 4);
  EXPECT_EQ(VariantInt(empty.Ptr(), 4), 4);
  EXPECT_EQ(b.Ptr()->Value.Bool, -1);
  EXPECT_TRUE(VariantBool(b.Ptr()));
  EXPECT_TRUE(VariantBool(i.Ptr()));
  EXPECT_EQ(VariantText(ref.Ptr()), u"текст");
  EXPECT_EQ(VariantText(i.Ptr()), u"-7");
  EXPECT_EQ(VariantText(nullptr), u"");

  // A by-reference variant pointing at itself must not hang the client.
  VelmVariant loop{};
  loop.Type = VELM_VT_BYREF_VARIANT;
  loop.Value.Ref = &loop;
  EXPECT_EQ(VariantText(&loop), u"");
  EXPECT_EQ(VariantInt(&loop, 3), 3);
  ref.Ptr()->Type = VELM_VT_EMPTY;  // the reference owns nothing
}

TEST(BrowserPage, EveryOperationReachesTheTabsBrowser) {
  TPluginFolder f;
  f.Install("Recorder", "R.so");
  f.Load();
  TRecordingBrowser browser;
  int document = 0;
  browser.DocumentHandle = ToPluginObject(&document);
  TBrowserPage page;
  FillBrowserPage(page, browser);
  for (size_t k = 0; k < VELM_BROWSER_PAGE_ENTRIES; ++k) {
    void* const* entry = reinterpret_cast<void* const*>(&page) + 2 * k;
    EXPECT_NE(entry[0], nullptr) << k;
    EXPECT_EQ(entry[1], &browser) << k;  // the context word
  }

  TRecording rec;
  auto exercise = reinterpret_cast<void (*)(TBrowserPage*)>(
      test::PluginSymbol(LoadedPlugins[0], "RecorderExercisePage"));
  ASSERT_NE(exercise, nullptr);
  exercise(&page);

  EXPECT_EQ(browser.Calls,
            (std::vector<std::string>{
                "GoBack", "GoForward", "Navigate http://site/a 1 [main] [a=1] [X-A: b\r\n]",
                "Navigate http://site/a 0 [] [] []", "Refresh", "Refresh2 3", "Stop"}));
  std::string self = PointerText(&browser);
  EXPECT_EQ(rec.Lines,
            (std::vector<std::string>{
                "R.so: objects " + self + " " + self + " " + self + " " + PointerText(&document),
                "R.so: rect 1 2 640 -480",
                "R.so: location '\\u0413\\u043B\\u0430\\u0432\\u043D\\u0430\\u044F' "
                "'http://site/index.php'",
                "R.so: busy -1",
            }));
}

TEST(BrowserPage, FailingOperationIsLoggedAndNeverUnwindsIntoThePlugin) {
  TPluginFolder f;
  f.Install("Recorder", "R.so");
  f.Load();
  TRecordingBrowser browser;
  browser.StopThrows = true;
  TBrowserPage page;
  FillBrowserPage(page, browser);
  TRecording rec;
  auto exercise = reinterpret_cast<void (*)(TBrowserPage*)>(
      test::PluginSymbol(LoadedPlugins[0], "RecorderExercisePage"));
  exercise(&page);
  // The plug-in carried on after Stop and used the remaining operations.
  EXPECT_EQ(rec.Lines.size(), 4u);
  EXPECT_NE(f.DebugLog().find("browser gone"), std::string::npos);
}

TEST(PluginMenu, ClickCallsShowSettingsOfThePluginAtTheTagWithHotKeysOff) {
  TPluginFolder f;
  f.Install("NoEvents", "A.so");
  f.Install("Recorder", "B.so");
  f.Install("Recorder", "C.so", "copy");
  f.Install("Failing", "D.so");
  f.Load();
  ASSERT_EQ(LoadedPlugins.size(), 4u);
  HotKeysEnabled = true;
  struct TSeen {
    int calls = 0;
    bool hotKeys = true;
  } seen;
  using THook = void (*)(void*);
  auto setHook = reinterpret_cast<void (*)(THook, void*)>(
      test::PluginSymbol(LoadedPlugins[2], "RecorderSetShowSettingsHook"));
  setHook(
      [](void* context) {
        auto* s = static_cast<TSeen*>(context);
        ++s->calls;
        s->hotKeys = HotKeysEnabled;
      },
      &seen);
  auto count = [](const TPlugin& p) {
    return reinterpret_cast<int (*)()>(test::PluginSymbol(p, "RecorderShowSettingsCount"))();
  };

  PluginMenuClick(2);
  EXPECT_EQ(seen.calls, 1);
  EXPECT_FALSE(seen.hotKeys);
  EXPECT_TRUE(HotKeysEnabled);
  EXPECT_EQ(count(LoadedPlugins[1]), 0);
  EXPECT_EQ(count(LoadedPlugins[2]), 1);

  // A plug-in that fails in ShowSettings: the failure goes on to the application's hook, and
  // the shortcuts are back on.
  try {
    PluginMenuClick(3);
    ADD_FAILURE() << "no exception";
  } catch (const EExternal& e) {
    EXPECT_NE(std::string(e.what()).find("in module 'D.so'"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(HotKeysEnabled);

  PluginMenuClick(4);  // no such plug-in
  PluginMenuClick(-1);
  EXPECT_EQ(seen.calls, 1);
  setHook(nullptr, nullptr);
}
