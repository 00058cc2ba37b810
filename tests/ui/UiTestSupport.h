#pragma once

#include "ui/Theme.h"
#include "ui/widgets/PaneSwitcher.h"

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>

namespace uitest {

// Light palette, Fusion style and no pane animation: the same pixels on every machine.
inline void useTestLook() {
    Theme::apply(*qApp, Theme::Scheme::Light);
    PaneSwitcher::setDuration(0);
}

// A drag over target as the desktop delivers it: it comes in, then drops or leaves.
struct Drag {
    QWidget* target;
    QMimeData mime;

    // Whether the enter was taken with the copy action.
    bool enter(const QList<QUrl>& urls) {
        mime.setUrls(urls);
        QDragEnterEvent event(QPoint(10, 10), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QCoreApplication::sendEvent(target, &event);
        return event.isAccepted() && event.dropAction() == Qt::CopyAction;
    }
    void leave() {
        QDragLeaveEvent event;
        QCoreApplication::sendEvent(target, &event);
    }
    void drop() {
        QDropEvent event(QPointF(10, 10), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(target, &event);
    }
};

} // namespace uitest
