#pragma once

#include "ui/Theme.h"
#include "ui/widgets/PaneSwitcher.h"

#include <QApplication>

namespace uitest {

// Light palette, Fusion style and no pane animation: the same pixels on every machine.
inline void useTestLook() {
    Theme::apply(*qApp, Theme::Scheme::Light);
    PaneSwitcher::setDuration(0);
}

} // namespace uitest
