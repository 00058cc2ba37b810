#pragma once

#include "app/NewProcessController.h"

// The hosting job of an Android package: the iOS job's inspection, folders, upload and link,
// then the package's own record, the icon (skipped for an icon defined in XML) and registration
// with the package link as the install URL. No manifest is written.
class NewAPKProcessController : public NewProcessController {
    Q_OBJECT
public:
    using NewProcessController::NewProcessController;

protected:
    QString packageExtension() const override { return QStringLiteral(".apk"); }
    QString newAppId() const override;
    void continueWithPackageLink(const QString& packageLink) override;
    Inspector* makeInspector() const override;
};
