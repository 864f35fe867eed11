// PictureON and PictureOFF: the window and tray icons of the active and the
// switched-off agent, drawn at start.
#pragma once

#include <QIcon>

namespace velarion::qt {

QIcon picture_on();
QIcon picture_off();
// The look of an agent waiting out a condition (a mail server that cannot be reached).
QIcon picture_warning();

}  // namespace velarion::qt
