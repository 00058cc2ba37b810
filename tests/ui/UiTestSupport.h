#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

namespace uitest {

// Light palette, Fusion style and no pane animation: the same pixels on every machine.
void useTestLook();

// The widget as it is drawn, at its current size (shown off screen first when it is not).
QImage render(QWidget* widget);

// A visible child of the given object name and type, or nullptr.
template <typename T> T* child(const QWidget* parent, const QString& name) {
    return parent->findChild<T*>(name);
}

} // namespace uitest
