#pragma once

#include <QString>

// The user's Documents folder ("~/Documents" unless the XDG user dirs say otherwise).
QString documentsFolder();

// "tempVantry" inside the Documents folder: extracted packages, manifest.plist, icon.png, qr.png.
QString workingFolder();
