#include "app/NewAPKProcessController.h"

#include "inspect/ParseAPK.h"
#include "records/ZappWire.h"

NewProcessController::Kind NewAPKProcessController::androidJob() {
    using J = NewAPKProcessController;
    return {QStringLiteral(".apk"),
            ZappWire::androidSuffix,
            [] { return new ParseAPK; },
            {&J::inspect, &J::checkPreflight, &J::createFolders, &J::uploadPackage, &J::showInspection,
             &J::installFromPackageLink, static_cast<Step>(&J::uploadIconUnlessXml), &J::hostApp,
             &J::registerApp, &J::complete}};
}

NewAPKProcessController::NewAPKProcessController(const QUrl& url, StatusSink& view, QObject* parent)
    : NewProcessController(androidJob(), url, view, parent) {}

// An icon defined by an XML resource is no picture to upload; the record keeps its path.
void NewAPKProcessController::uploadIconUnlessXml(const Next& next) {
    if (outcome().record.icon.contains(QLatin1String(".xml")))
        next();
    else
        uploadIcon(next);
}
