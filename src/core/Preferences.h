#pragma once

#include <QVariant>

// The user's preferences (QSettings, organisation and application "Vantry"). Only choices
// live here; secrets go to the credential store.
namespace Preferences {
inline const QString isDropBox = QStringLiteral("isDropBox");
inline const QString isDrive = QStringLiteral("isDrive");
inline const QString isZoho = QStringLiteral("isZoho");
inline const QString isSelfHosted = QStringLiteral("isSelfHosted");
inline const QString hasCrashed = QStringLiteral("hasCrashed");

bool flag(const QString& key);
void setFlag(const QString& key, bool on);

QVariant value(const QString& key);
void setValue(const QString& key, const QVariant& value);
void remove(const QString& key);
bool contains(const QString& key);
} // namespace Preferences
