// The tab list's view of every key of the UI thread: an application-wide event filter that sees
// a key before the page (or the modal dialog) it is meant for. It acts on spontaneous key
// presses only: a key the page leaves unhandled comes back a second time, not spontaneous, and
// must not act twice. Key releases and everything else go on unchanged; the browser handles its
// own accelerators and focus keys after the filter.
#pragma once

#include <QKeySequence>
#include <QObject>

class QKeyEvent;
class QWidget;

namespace velm {

class TTabList;

// The key a shortcut is matched by: letters of the Russian layout count as the Latin letters on
// the same keys, so Ctrl+W works whichever layout is on.
int ShortcutKey(int qtKey);

// The combination of a key press as the hook matches it: the key plus Shift and Ctrl; Alt never
// counts. Empty for a key pressed with Alt and without Ctrl (a system key) and for a lone
// modifier.
QKeySequence KeyCombination(const QKeyEvent& key);

// Finds an item of the window's menu bar, at any depth, shown or hidden, with the combination as
// shortcut; runs it when enabled. True when such an item exists.
bool TriggerMenuShortcut(QWidget* mainWindow, const QKeySequence& combination);

class TKeyboardHook : public QObject {
  Q_OBJECT
 public:
  // Installs itself on the application; removed again when destroyed.
  explicit TKeyboardHook(TTabList* list);
  ~TKeyboardHook() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  TTabList* fList;
};

}  // namespace velm
