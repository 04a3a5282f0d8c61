#include "browser/KeyboardHook.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>

#include "browser/TabList.h"

namespace velm {

namespace {

// The Latin key on the key of each Russian letter (upper-case code points, as Qt reports them).
struct TLayoutKey {
  char16_t Letter;
  int Key;
};
constexpr TLayoutKey kRussianKeys[] = {
    {u'Й', Qt::Key_Q},         {u'Ц', Qt::Key_W},           {u'У', Qt::Key_E},
    {u'К', Qt::Key_R},         {u'Е', Qt::Key_T},           {u'Н', Qt::Key_Y},
    {u'Г', Qt::Key_U},         {u'Ш', Qt::Key_I},           {u'Щ', Qt::Key_O},
    {u'З', Qt::Key_P},         {u'Х', Qt::Key_BracketLeft}, {u'Ъ', Qt::Key_BracketRight},
    {u'Ф', Qt::Key_A},         {u'Ы', Qt::Key_S},           {u'В', Qt::Key_D},
    {u'А', Qt::Key_F},         {u'П', Qt::Key_G},           {u'Р', Qt::Key_H},
    {u'О', Qt::Key_J},         {u'Л', Qt::Key_K},           {u'Д', Qt::Key_L},
    {u'Ж', Qt::Key_Semicolon}, {u'Э', Qt::Key_Apostrophe},  {u'Я', Qt::Key_Z},
    {u'Ч', Qt::Key_X},         {u'С', Qt::Key_C},           {u'М', Qt::Key_V},
    {u'И', Qt::Key_B},         {u'Т', Qt::Key_N},           {u'Ь', Qt::Key_M},
    {u'Б', Qt::Key_Comma},     {u'Ю', Qt::Key_Period},      {u'Ё', Qt::Key_QuoteLeft},
};

bool MenuHasShortcut(const QList<QAction*>& actions, const QKeySequence& combination,
                     QAction*& found) {
  for (QAction* action : actions) {
    if (action->shortcuts().contains(combination)) {
      found = action;
      return true;
    }
    if (QMenu* menu = action->menu())
      if (MenuHasShortcut(menu->actions(), combination, found)) return true;
  }
  return false;
}

}  // namespace

int ShortcutKey(int qtKey) {
  for (const TLayoutKey& k : kRussianKeys)
    if (qtKey == k.Letter) return k.Key;
  return qtKey;
}

QKeySequence KeyCombination(const QKeyEvent& key) {
  const Qt::KeyboardModifiers mods = key.modifiers();
  const bool ctrl = mods & Qt::ControlModifier;
  const bool alt = mods & Qt::AltModifier;
  bool shift = mods & Qt::ShiftModifier;
  if (alt && !ctrl) return QKeySequence();
  int code = ShortcutKey(key.key());
  switch (code) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_Meta:
    case Qt::Key_AltGr:
    case 0:
    case Qt::Key_unknown:
      return QKeySequence();
    case Qt::Key_Backtab:
      code = Qt::Key_Tab;
      shift = true;
      break;
    case Qt::Key_Enter:
      code = Qt::Key_Return;
      break;
    default:
      break;
  }
  Qt::KeyboardModifiers combined;
  if (shift) combined |= Qt::ShiftModifier;
  if (ctrl) combined |= Qt::ControlModifier;
  return QKeySequence(QKeyCombination(combined, static_cast<Qt::Key>(code)));
}

bool TriggerMenuShortcut(QWidget* mainWindow, const QKeySequence& combination) {
  auto* window = qobject_cast<QMainWindow*>(mainWindow);
  if (!window || combination.isEmpty()) return false;
  auto* menuBar = qobject_cast<QMenuBar*>(window->menuWidget());
  if (!menuBar) return false;
  QAction* found = nullptr;
  if (!MenuHasShortcut(menuBar->actions(), combination, found)) return false;
  // Qt reports a hidden item as disabled; trigger() itself refuses only an item that was disabled
  // on purpose, which is the rule wanted here.
  found->trigger();
  return true;
}

TKeyboardHook::TKeyboardHook(TTabList* list) : fList(list) {
  qApp->installEventFilter(this);
}

TKeyboardHook::~TKeyboardHook() {
  if (qApp) qApp->removeEventFilter(this);
}

bool TKeyboardHook::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress || !event->spontaneous()) return false;
  // A key reaches the window object first and then its widget, as the same event: only the
  // widget's delivery counts.
  auto* receiver = qobject_cast<QWidget*>(watched);
  if (!receiver) return false;
  return fList->AppMessage(static_cast<QKeyEvent*>(event));
}

}  // namespace velm
