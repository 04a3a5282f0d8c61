#include <gtest/gtest.h>

#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include "app/HotKeys.h"
#include "plugins/PluginsControl.h"
#include "plugins/support/GuiTestSupport.h"
#include "plugins/support/PluginTestSupport.h"

using namespace velm;
using velm::test::TPluginFolder;

TEST(ConnectedModules, FormAsDesignedAndEmptyWithoutPlugins) {
  test::GuiApp();
  TPluginFolder f;
  f.Load();
  TfConnectedModules form;
  EXPECT_EQ(form.windowTitle(), QString::fromUtf8("Подключенные модули"));
  EXPECT_EQ(form.size(), QSize(409, 269));
  EXPECT_EQ(form.font().pixelSize(), 11);
  EXPECT_EQ(form.Label1->text(), QString::fromUtf8("Имеющиеся модули"));
  EXPECT_EQ(form.Label2->text(), QString::fromUtf8("Характеристики выбранного модуля"));
  EXPECT_EQ(form.Button1->text(), QString::fromUtf8("Закрыть"));
  EXPECT_TRUE(form.Button1->isDefault());
  EXPECT_TRUE(form.Memo1->isReadOnly());
  EXPECT_EQ(form.ListBox1->geometry(), QRect(8, 23, 393, 86));
  EXPECT_EQ(form.Memo1->geometry(), QRect(8, 134, 393, 89));
  EXPECT_EQ(form.Button1->geometry(), QRect(160, 235, 89, 25));

  EXPECT_EQ(form.ListBox1->count(), 0);
  EXPECT_EQ(form.ListBox1->currentRow(), -1);
  EXPECT_TRUE(form.Memo1->toPlainText().isEmpty());

  // Anchors: the list grows both ways, the memo widens and moves down with the button.
  form.show();
  form.resize(509, 319);
  QApplication::processEvents();
  ASSERT_EQ(form.size(), QSize(509, 319));
  EXPECT_EQ(form.ListBox1->geometry(), QRect(8, 23, 493, 136));
  EXPECT_EQ(form.Memo1->geometry(), QRect(8, 184, 493, 89));
  EXPECT_EQ(form.Button1->geometry(), QRect(160, 285, 89, 25));
  EXPECT_EQ(form.Label2->pos(), QPoint(16, 170));
}

TEST(ConnectedModules, ListsPluginsInLoadOrderAndDescribesTheSelectedOne) {
  test::GuiApp();
  TPluginFolder f;
  f.Install("Recorder", "a_recorder.so");
  f.Install("RecorderCyrillic", "B_journal.so");
  f.Install("NoEvents", "c_quiet.so");
  f.Load();
  TfConnectedModules form;
  ASSERT_EQ(form.ListBox1->count(), 3);
  EXPECT_EQ(form.ListBox1->item(0)->text(), QString::fromUtf8("Recorder"));
  EXPECT_EQ(form.ListBox1->item(1)->text(), QString::fromUtf8("Журнал событий"));
  EXPECT_EQ(form.ListBox1->item(2)->text(), QString::fromUtf8("No events"));
  EXPECT_EQ(form.ListBox1->currentRow(), 0);
  EXPECT_EQ(form.Memo1->toPlainText(),
            QString::fromUtf8("Файл: a_recorder.so\nОписание: Recorder\nВерсия: 1.05"));

  form.ListBox1->setCurrentRow(1);
  EXPECT_EQ(form.Memo1->toPlainText(),
            QString::fromUtf8("Файл: B_journal.so\nОписание: Журнал событий\nВерсия: 0.07"));

  form.ListBox1->clearSelection();
  form.ListBox1Click();
  EXPECT_TRUE(form.Memo1->toPlainText().isEmpty());
}

TEST(ConnectedModules, ShownModallyWithHotKeysOff) {
  test::GuiApp();
  TPluginFolder f;
  f.Install("NoEvents", "A.so");
  f.Load();
  HotKeysEnabled = true;
  bool shown = false, hotKeysWhileShown = true;
  QTimer::singleShot(0, [&] {
    auto* form = qobject_cast<TfConnectedModules*>(QApplication::activeModalWidget());
    ASSERT_NE(form, nullptr);
    shown = true;
    hotKeysWhileShown = HotKeysEnabled;
    form->Button1->click();
  });
  ShowConnectedModules(nullptr);
  EXPECT_TRUE(shown);
  EXPECT_FALSE(hotKeysWhileShown);
  EXPECT_TRUE(HotKeysEnabled);
}
