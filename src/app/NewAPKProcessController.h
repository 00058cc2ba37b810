#pragma once

#include "app/NewProcessController.h"

// The hosting job of an Android package: the iOS job's inspection, folders, upload and link,
// then the package's own record, the icon (skipped for an icon defined in XML) and registration
// with the package link as the install URL. No manifest is written.
class NewAPKProcessController : public NewProcessController {
    Q_OBJECT
public:
    NewAPKProcessController(const QUrl& url, StatusSink& view, QObject* parent = nullptr);

private:
    static Kind androidJob();
    void uploadIconUnlessXml(const Next& next);
};
