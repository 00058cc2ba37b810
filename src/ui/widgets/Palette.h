#pragma once

#include <QColor>
#include <QPalette>

// Colours drawn by hand that must read on the light and on the dark palette alike.
namespace Palette {

// Light text on a dark window.
inline bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128;
}

// Separator lines: light grey (0.8, 0.8, 0.8) on the light palette, its mid tone on the dark one.
inline QColor hairline(const QPalette& palette) {
    return isDark(palette) ? palette.color(QPalette::Mid) : QColor::fromRgbF(0.8f, 0.8f, 0.8f);
}

// The empty part of a bar.
inline QColor track(const QPalette& palette) {
    return isDark(palette) ? palette.color(QPalette::Button) : QColor(225, 229, 238);
}

} // namespace Palette
