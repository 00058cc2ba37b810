#include "core/Preferences.h"

#include <QSettings>

namespace {
QSettings store() {
    return QSettings(QStringLiteral("Vantry"), QStringLiteral("Vantry"));
}
} // namespace

namespace Preferences {

bool flag(const QString& key) {
    return store().value(key, false).toBool();
}

void setFlag(const QString& key, bool on) {
    store().setValue(key, on);
}

QVariant value(const QString& key) {
    return store().value(key);
}

void setValue(const QString& key, const QVariant& value) {
    QSettings s = store();
    s.setValue(key, value);
    s.sync();
}

void remove(const QString& key) {
    QSettings s = store();
    s.remove(key);
    s.sync();
}

bool contains(const QString& key) {
    return store().contains(key);
}

} // namespace Preferences
