#include "ui/widgets/FlatButton.h"

#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int radius = 6;
constexpr int padH = 18;
constexpr int padV = 8;
constexpr int imageGap = 8;
constexpr int chevron = 8; // the mark of a button that opens a menu
} // namespace

FlatButton::FlatButton(const QString& title, QWidget* parent) : QPushButton(title, parent) {
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::StrongFocus);
    setIconSize(QSize(20, 20));
}

void FlatButton::setFillColor(const QColor& color) {
    m_fill = color;
    update();
}

void FlatButton::setTextColor(const QColor& color) {
    m_text = color;
    update();
}

void FlatButton::setKind(Kind kind) {
    m_kind = kind;
    update();
}

QColor FlatButton::fillColor() const {
    if (m_fill.isValid())
        return m_fill;
    return palette().color(m_kind == Kind::Primary ? QPalette::Highlight : QPalette::Button);
}

QColor FlatButton::textColor() const {
    if (m_text.isValid())
        return m_text;
    return palette().color(m_kind == Kind::Primary ? QPalette::HighlightedText : QPalette::ButtonText);
}

QSize FlatButton::sizeHint() const {
    const QFontMetrics fm(font());
    int w = fm.horizontalAdvance(text()) + 2 * padH;
    int h = fm.height() + 2 * padV;
    if (!icon().isNull()) {
        w += iconSize().width() + imageGap;
        h = qMax(h, iconSize().height() + 2 * padV);
    }
    if (menu())
        w += imageGap + chevron;
    return {w, h};
}

void FlatButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QColor fill = fillColor();
    if (!isEnabled())
        fill.setAlphaF(0.45f);
    else if (isDown())
        fill = fill.darker(125);
    else if (m_hovered)
        fill = fill.lighter(112);

    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(frame, radius, radius);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawPath(shape);
    if (hasFocus()) {
        p.setPen(QPen(palette().color(QPalette::Highlight), 2));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(frame.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
    }

    const QFontMetrics fm(font());
    const int textWidth = fm.horizontalAdvance(text());
    const bool hasImage = !icon().isNull();
    const int contentWidth =
        textWidth + (hasImage ? iconSize().width() + imageGap : 0) + (menu() ? imageGap + chevron : 0);
    int x = (width() - contentWidth) / 2;
    if (hasImage) {
        const QRect imageRect(x, (height() - iconSize().height()) / 2, iconSize().width(),
                              iconSize().height());
        icon().paint(&p, imageRect);
        x += iconSize().width() + imageGap;
    }
    QColor text = textColor();
    if (!isEnabled())
        text.setAlphaF(0.6f);
    p.setPen(text);
    p.drawText(QRect(x, 0, textWidth + 1, height()), Qt::AlignVCenter | Qt::AlignLeft, this->text());
    if (menu()) {
        const QPointF tip(x + textWidth + imageGap + chevron / 2.0, height() / 2.0 + chevron / 4.0);
        p.setPen(QPen(text, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF{tip + QPointF(-chevron / 2.0, -chevron / 2.0), tip,
                                 tip + QPointF(chevron / 2.0, -chevron / 2.0)});
    }
}

void FlatButton::enterEvent(QEnterEvent* event) {
    m_hovered = true;
    update();
    QPushButton::enterEvent(event);
}

void FlatButton::leaveEvent(QEvent* event) {
    m_hovered = false;
    update();
    QPushButton::leaveEvent(event);
}
