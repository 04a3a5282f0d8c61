#include "app/Artwork.h"

#include <QString>

// The resources live in a static library: their registration has to be pulled in by name.
static void RegisterArtwork() {
  static const bool registered = [] {
    Q_INIT_RESOURCE(velmara);
    return true;
  }();
  (void)registered;
}

namespace velm {

namespace {

QPixmap Picture(const char* name) {
  RegisterArtwork();
  return QPixmap(QStringLiteral(":/velmara/") + QString::fromLatin1(name));
}

}  // namespace

QPixmap SplashBackgroundPicture() {
  return Picture("splash.png");
}
QPixmap StopButtonActivePicture() {
  return Picture("stop-active.png");
}
QPixmap ProgressBarPicture() {
  return Picture("progress.png");
}
QPixmap AboutBackgroundPicture() {
  return Picture("about.png");
}
QPixmap CloseButtonPicture() {
  return Picture("close.png");
}
QPixmap CloseButtonHotPicture() {
  return Picture("close-hot.png");
}
QIcon ProgramIcon() {
  return QIcon(Picture("icon.png"));
}

}  // namespace velm
