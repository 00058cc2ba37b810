#pragma once

#include <QPointer>
#include <QToolButton>

#include <functional>

class QLabel;

// The information button beside the install count. Its first click creates the popover with the
// text of textSource (or the button's own content text without one) and keeps it; every click then
// opens it beside the button's right edge or closes it.
class InstallDetailButton : public QToolButton {
    Q_OBJECT
public:
    // The popover is a child of host, so it goes away with the pane that shows it.
    explicit InstallDetailButton(QWidget* host, QWidget* parent = nullptr);

    void setTextSource(std::function<QString()> source) { m_textSource = std::move(source); }
    void setContentText(const QString& text) { m_contentText = text; }

    bool isPopoverShown() const;
    QString popoverText() const;

signals:
    void popoverToggled(bool shown);

private:
    void toggle();

    QPointer<QWidget> m_host;
    std::function<QString()> m_textSource;
    QString m_contentText;
    QLabel* m_popover = nullptr;
};
