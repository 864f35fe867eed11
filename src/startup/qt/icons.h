// PictureON and PictureOFF: the window and tray icons of the active and the
// switched-off agent, drawn at start.
#pragma once

#include <QIcon>

namespace velarion::qt {

QIcon picture_on();
QIcon picture_off();

}  // namespace velarion::qt
