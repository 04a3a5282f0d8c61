// The client's own pictures, compiled into the program from resources/.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace velm {

// Splash background, lighter stop button, progress bar, about-box background, the two tab close
// buttons and the program icon.
QPixmap SplashBackgroundPicture();
QPixmap StopButtonActivePicture();
QPixmap ProgressBarPicture();
QPixmap AboutBackgroundPicture();
QPixmap CloseButtonPicture();
QPixmap CloseButtonHotPicture();
QIcon ProgramIcon();

}  // namespace velm
