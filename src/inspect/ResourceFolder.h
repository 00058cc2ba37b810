#pragma once

#include <QString>

// The folder holding the scripts shipped with the application (getApkInfo.sh,
// extractIconFromApk.sh, optionally an aapt binary). The first of these that holds
// getApkInfo.sh: the "inspect/resourceDir" configuration value, "resources" next to the
// executable, "../share/vantry/resources" from the executable's folder (installed layout), the
// source tree's "resources" folder. Empty when none does.
QString resourceFolder();

// The path of one script in the resource folder, or nothing when it is not there.
QString resourceScript(const QString& fileName);
