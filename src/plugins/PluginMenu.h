// The plug-ins menu: one item per loaded plug-in, captioned with its description; a click opens
// the plug-in's settings.
#pragma once

#include <QObject>
#include <memory>

class QMenu;

namespace velm {

// Receives the clicks of every plug-in menu item; the main window keeps it while its menu lives.
class TStub : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;

 public slots:
  // The sender is the menu item; its data is the plug-in's position in LoadedPlugins.
  void PluginMenuClick();
};

// Appends an item for each loaded plug-in, in load order, after the entries miPlugins already
// holds. A plug-in failing in GetDescription is not caught here.
std::unique_ptr<TStub> BuildPluginMenu(QMenu* miPlugins);

}  // namespace velm
