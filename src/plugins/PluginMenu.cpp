#include "plugins/PluginMenu.h"

#include <QAction>
#include <QMenu>

#include "platform/Encoding.h"
#include "plugins/Plugins.h"

namespace velm {

void TStub::PluginMenuClick() {
  auto* item = qobject_cast<QAction*>(sender());
  if (item) velm::PluginMenuClick(item->data().toInt());
}

std::unique_ptr<TStub> BuildPluginMenu(QMenu* miPlugins) {
  auto stub = std::make_unique<TStub>();
  for (size_t i = 0; i < LoadedPlugins.size(); ++i) {
    QString caption = QString::fromStdU16String(Cp1251ToUtf16(PluginDescription(LoadedPlugins[i])));
    QAction* item = miPlugins->addAction(caption);
    item->setData(static_cast<int>(i));
    item->setCheckable(false);
    item->setEnabled(true);
    QObject::connect(item, &QAction::triggered, stub.get(), &TStub::PluginMenuClick);
  }
  return stub;
}

}  // namespace velm
