#pragma once

#include <QColor>
#include <QObject>
#include <QPalette>
#include <QtDBus/QDBusVariant>

class QApplication;

// Colours, fonts and the light or dark palette of the desktop application. The palette follows
// the desktop's colour scheme (the freedesktop portal setting when a portal runs, else the
// platform theme's own palette) and changes with it while the application runs.
namespace Theme {

enum class Scheme { Light, Dark };

// The job sheet's panel and the spinner colour of a running job.
inline const QColor sheetBackground = QColor::fromRgbF(0.0721f, 0.103f, 0.18f);
inline const QColor jobAccent = QColor::fromRgbF(0.361f, 0.306f, 0.537f);

QPalette palette(Scheme scheme);

// What the desktop asks for now. VANTRY_COLOR_SCHEME=dark|light overrides it.
Scheme systemScheme();

// Sets the style and palette on the application object; the scheme in force afterwards.
void apply(QApplication& app, Scheme scheme);
Scheme current();

// Keeps the application's palette in step with the desktop for as long as it lives.
class Follower : public QObject {
    Q_OBJECT
public:
    explicit Follower(QApplication& app);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void portalSettingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    void refresh();
    QApplication& m_app;
};

} // namespace Theme
