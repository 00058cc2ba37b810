#include "ui/Theme.h"

#include <QApplication>
#include <QEvent>
#include <QStyleFactory>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusMessage>

#include <optional>

namespace {
const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString portalSettings = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearanceGroup = QStringLiteral("org.freedesktop.appearance");
const QString colorSchemeKey = QStringLiteral("color-scheme");

Theme::Scheme g_current = Theme::Scheme::Light;

// The portal's colour-scheme value: 1 prefers dark, 2 prefers light, 0 has no preference.
std::optional<Theme::Scheme> schemeFromPortalValue(QVariant value) {
    // Read() wraps the value in one more variant than ReadOne() does.
    while (value.metaType() == QMetaType::fromType<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    bool ok = false;
    const uint v = value.toUInt(&ok);
    if (!ok)
        return std::nullopt;
    if (v == 1)
        return Theme::Scheme::Dark;
    if (v == 2)
        return Theme::Scheme::Light;
    return std::nullopt;
}

std::optional<Theme::Scheme> portalScheme() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return std::nullopt;
    QDBusMessage call =
        QDBusMessage::createMethodCall(portalService, portalPath, portalSettings, QStringLiteral("Read"));
    call << appearanceGroup << colorSchemeKey;
    // A desktop without a portal answers with an error at once; a hung one must not hold the start.
    const QDBusMessage reply = bus.call(call, QDBus::Block, 800);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return schemeFromPortalValue(reply.arguments().constFirst());
}

// The palette the platform theme gave the application before ours replaced it.
QPalette& platformPalette() {
    static QPalette palette = QGuiApplication::palette();
    return palette;
}
} // namespace

namespace Theme {

QPalette palette(Scheme scheme) {
    QPalette p;
    if (scheme == Scheme::Dark) {
        const QColor window(0x1b, 0x1d, 0x26), base(0x14, 0x16, 0x1e), text(0xe8, 0xe9, 0xef);
        p.setColor(QPalette::Window, window);
        p.setColor(QPalette::WindowText, text);
        p.setColor(QPalette::Base, base);
        p.setColor(QPalette::AlternateBase, window.lighter(115));
        p.setColor(QPalette::Text, text);
        p.setColor(QPalette::Button, QColor(0x2a, 0x2d, 0x3a));
        p.setColor(QPalette::ButtonText, text);
        p.setColor(QPalette::Mid, QColor(0x3a, 0x3d, 0x4c));
        p.setColor(QPalette::Dark, QColor(0x0e, 0x0f, 0x14));
        p.setColor(QPalette::Light, QColor(0x34, 0x37, 0x46));
        p.setColor(QPalette::PlaceholderText, QColor(0x8c, 0x8f, 0x9e));
        p.setColor(QPalette::ToolTipBase, base);
        p.setColor(QPalette::ToolTipText, text);
        p.setColor(QPalette::Highlight, QColor(0x7b, 0x6c, 0xb8));
        p.setColor(QPalette::HighlightedText, Qt::white);
        p.setColor(QPalette::Link, QColor(0x9d, 0x8f, 0xe0));
        p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x6a, 0x6d, 0x7a));
        p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x6a, 0x6d, 0x7a));
        p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x6a, 0x6d, 0x7a));
    } else {
        const QColor window(0xf4, 0xf4, 0xf7), text(0x1c, 0x1e, 0x27);
        p.setColor(QPalette::Window, window);
        p.setColor(QPalette::WindowText, text);
        p.setColor(QPalette::Base, Qt::white);
        p.setColor(QPalette::AlternateBase, QColor(0xec, 0xec, 0xf1));
        p.setColor(QPalette::Text, text);
        p.setColor(QPalette::Button, QColor(0xe6, 0xe6, 0xed));
        p.setColor(QPalette::ButtonText, text);
        p.setColor(QPalette::Mid, QColor(0xc9, 0xc9, 0xd3));
        p.setColor(QPalette::Dark, QColor(0x9a, 0x9a, 0xa6));
        p.setColor(QPalette::Light, Qt::white);
        p.setColor(QPalette::PlaceholderText, QColor(0x80, 0x82, 0x8e));
        p.setColor(QPalette::ToolTipBase, Qt::white);
        p.setColor(QPalette::ToolTipText, text);
        p.setColor(QPalette::Highlight, jobAccent);
        p.setColor(QPalette::HighlightedText, Qt::white);
        p.setColor(QPalette::Link, jobAccent);
        p.setColor(QPalette::Disabled, QPalette::Text, QColor(0xa0, 0xa1, 0xab));
        p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0xa0, 0xa1, 0xab));
        p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0xa0, 0xa1, 0xab));
    }
    return p;
}

Scheme systemScheme() {
    const QByteArray forced = qgetenv("VANTRY_COLOR_SCHEME").toLower();
    if (forced == "dark")
        return Scheme::Dark;
    if (forced == "light")
        return Scheme::Light;
    if (const auto fromPortal = portalScheme())
        return *fromPortal;
    const QPalette& platform = platformPalette();
    return platform.color(QPalette::Window).lightness() < platform.color(QPalette::WindowText).lightness()
               ? Scheme::Dark
               : Scheme::Light;
}

void apply(QApplication& app, Scheme scheme) {
    platformPalette(); // remember the platform's palette before it is replaced
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        app.setStyle(fusion);
    g_current = scheme;
    app.setPalette(palette(scheme));
}

Scheme current() {
    return g_current;
}

Follower::Follower(QApplication& app) : QObject(&app), m_app(app) {
    QDBusConnection::sessionBus().connect(portalService, portalPath, portalSettings,
                                          QStringLiteral("SettingChanged"), this,
                                          SLOT(portalSettingChanged(QString, QString, QDBusVariant)));
    app.installEventFilter(this);
}

bool Follower::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &m_app && event->type() == QEvent::ThemeChange)
        refresh();
    return QObject::eventFilter(watched, event);
}

void Follower::portalSettingChanged(const QString& group, const QString& key, const QDBusVariant& value) {
    if (group != appearanceGroup || key != colorSchemeKey)
        return;
    const Scheme scheme = schemeFromPortalValue(QVariant::fromValue(value)).value_or(Scheme::Light);
    if (scheme != g_current)
        apply(m_app, scheme);
}

void Follower::refresh() {
    const Scheme scheme = systemScheme();
    if (scheme != g_current)
        apply(m_app, scheme);
}

} // namespace Theme
