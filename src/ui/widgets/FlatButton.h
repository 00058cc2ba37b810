#pragma once

#include <QColor>
#include <QPushButton>

// A push button without bevel: a rounded fill, a title and an optional image before it. The fill
// darkens while pressed and brightens under the pointer. Without colours of its own it takes them
// from the palette: the highlight for a primary button, the button colour for a secondary one.
// A button with a menu shows a chevron after its title.
class FlatButton : public QPushButton {
    Q_OBJECT
public:
    enum class Kind { Primary, Secondary };

    explicit FlatButton(const QString& title, QWidget* parent = nullptr);

    void setKind(Kind kind);
    QColor fillColor() const;
    void setFillColor(const QColor& color);
    QColor textColor() const;
    void setTextColor(const QColor& color);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    Kind m_kind = Kind::Primary;
    QColor m_fill;
    QColor m_text;
    bool m_hovered = false;
};
