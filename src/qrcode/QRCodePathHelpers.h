#pragma once

#include <QPainterPath>
#include <QRectF>
#include <QSizeF>

// Shared geometry of the module grid and the path building blocks of shapes.
namespace qrpath {

struct Grid {
    int d = 0;
    double p = 0;
    double x0 = 0;
    double y0 = 0;
    Grid(const QSizeF& size, int dimension);
    QRectF cell(int row, int column) const { return QRectF(x0 + p * column, y0 + p * row, p, p); }
    // Border module, finder pattern and separator in three corners.
    bool inEye(int row, int column) const {
        return (row < 9 && column < 9) || (row < 9 && column >= d - 9) || (row >= d - 9 && column < 9);
    }
};

struct CornerRadii {
    QSizeF topLeft, topRight, bottomLeft, bottomRight;
};

// Corners visited top-left, top-right, bottom-right, bottom-left; each rounded corner is one cubic
// with control point 1 on the corner and control point 2 on the end point.
void addPerCornerRoundedRect(QPainterPath& path, const QRectF& rect, const CornerRadii& radii);

// Appends tmpl scaled by scale and moved by (dx, dy) without building intermediate paths.
void appendTransformed(QPainterPath& path, const QPainterPath& tmpl, double scale, double dx, double dy);
void appendTransformed(QPainterPath& path, const QPainterPath& tmpl, double sx, double sy, double dx,
                       double dy);

// Outline language of the constant shapes: "M x y", "L x y", "C end c1 c2" (end point first), "Z".
QPainterPath parseOutline(const char* text);

} // namespace qrpath
