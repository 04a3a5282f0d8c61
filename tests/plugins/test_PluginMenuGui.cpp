#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>

#include "app/HotKeys.h"
#include "plugins/PluginMenu.h"
#include "plugins/support/GuiTestSupport.h"
#include "plugins/support/PluginTestSupport.h"

using namespace velm;
using velm::test::TPluginFolder;

namespace {

// The plug-ins menu of the main window before the plug-ins are added.
void AddFixedEntries(QMenu& miPlugins) {
  miPlugins.addAction(QString::fromUtf8("Подключенные модули..."));
  miPlugins.addSeparator();
}

}  // namespace

TEST(PluginMenuGui, WithoutPluginsOnlyTheTwoFixedEntries) {
  test::GuiApp();
  TPluginFolder f;
  f.Load();
  QMenu miPlugins;
  AddFixedEntries(miPlugins);
  auto stub = BuildPluginMenu(&miPlugins);
  EXPECT_NE(stub, nullptr);
  EXPECT_EQ(miPlugins.actions().size(), 2);
}

TEST(PluginMenuGui, ThirdItemOpensTheThirdPluginsSettings) {
  test::GuiApp();
  TPluginFolder f;
  f.Install("NoEvents", "A.so");
  f.Install("RecorderCyrillic", "B.so");
  f.Install("Recorder", "C.so");
  f.Load();
  QMenu miPlugins;
  AddFixedEntries(miPlugins);
  auto stub = BuildPluginMenu(&miPlugins);

  const QList<QAction*> items = miPlugins.actions();
  ASSERT_EQ(items.size(), 5);
  const char* captions[] = {"No events", "Журнал событий", "Recorder"};
  for (int i = 0; i < 3; ++i) {
    QAction* item = items[2 + i];
    EXPECT_EQ(item->text(), QString::fromUtf8(captions[i]));
    EXPECT_EQ(item->data().toInt(), i);  // the tag
    EXPECT_TRUE(item->shortcut().isEmpty());
    EXPECT_FALSE(item->isChecked());
    EXPECT_TRUE(item->isEnabled());
  }

  HotKeysEnabled = true;
  struct TSeen {
    int calls = 0;
    bool hotKeys = true;
  } seen;
  using THook = void (*)(void*);
  auto setHook = reinterpret_cast<void (*)(THook, void*)>(
      test::PluginSymbol(LoadedPlugins[2], "RecorderSetShowSettingsHook"));
  ASSERT_NE(setHook, nullptr);
  setHook(
      [](void* context) {
        auto* s = static_cast<TSeen*>(context);
        ++s->calls;
        s->hotKeys = HotKeysEnabled;
      },
      &seen);
  items[4]->trigger();
  setHook(nullptr, nullptr);
  EXPECT_EQ(seen.calls, 1);
  EXPECT_FALSE(seen.hotKeys);
  EXPECT_TRUE(HotKeysEnabled);
  auto count = reinterpret_cast<int (*)()>(
      test::PluginSymbol(LoadedPlugins[1], "RecorderShowSettingsCount"));
  EXPECT_EQ(count(), 0);  // the other recorder was not asked
}
