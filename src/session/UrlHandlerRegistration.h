#pragma once

#include <QString>

// The desktop entry that makes the desktop hand vantry:// URLs and packages (.apk, and .ipa as
// application/x-ios-app, which resources/linux/vantry-mime.xml describes) to Vantry.
QString desktopEntryText(const QString& executable);

// Writes the entry into the user's applications folder for this executable and makes it the
// handler of x-scheme-handler/vantry (xdg-mime). Returns an empty text, or what went wrong.
QString registerUrlHandler(const QString& executable);
