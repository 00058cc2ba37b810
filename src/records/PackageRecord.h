#pragma once

#include <QString>

// What package inspection learns about one .ipa or .apk. All seven fields are texts; for
// Android, minOS holds the version code.
struct PackageRecord {
    QString bundleID;
    QString version;
    QString name;
    QString icon; // local path of the extracted icon, or empty
    QString size; // whole mebibytes followed by " MB"
    QString minOS;
    QString QR;

    bool operator==(const PackageRecord&) const = default;
};

using IPA = PackageRecord;
using APK = PackageRecord;
