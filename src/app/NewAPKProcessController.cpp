#include "app/NewAPKProcessController.h"

#include "backend/records/ZappWire.h"

#include "app/JobFormat.h"
#include "inspect/ParseAPK.h"

QString NewAPKProcessController::newAppId() const {
    return NewProcessController::newAppId() + ZappWire::androidSuffix;
}

Inspector* NewAPKProcessController::makeInspector() const {
    return new ParseAPK;
}

void NewAPKProcessController::continueWithPackageLink(const QString& packageLink) {
    setStatus(QStringLiteral("Creating export plist configuration"), QString(), ProcessState::processing);
    showInspection([this, packageLink](const PackageRecord& record) {
        const auto host = [this, packageLink](const PackageRecord& r) {
            // An Android device installs straight from the package's link.
            hostApp(packageLink, r, [this](const QString& link) { complete(link); });
        };
        if (record.icon.contains(QLatin1String(".xml")))
            host(record);
        else
            uploadIcon(record, host);
    });
}
