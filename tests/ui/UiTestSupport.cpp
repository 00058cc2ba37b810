#include "UiTestSupport.h"

#include "ui/Theme.h"
#include "ui/widgets/PaneSwitcher.h"

#include <QApplication>

namespace uitest {

void useTestLook() {
    Theme::apply(*qApp, Theme::Scheme::Light);
    PaneSwitcher::setDuration(0);
}

QImage render(QWidget* widget) {
    if (!widget->isVisible())
        widget->show();
    QImage image(widget->size() * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    image.fill(Qt::transparent);
    widget->render(&image);
    return image;
}

} // namespace uitest
