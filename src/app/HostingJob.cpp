#include "app/HostingJob.h"

#include "app/NewAPKProcessController.h"

#include <QFileInfo>

std::optional<PackageKind> packageKindOf(const QString& fileName) {
    const QString suffix = QFileInfo(fileName).suffix();
    if (suffix.compare(QLatin1String("ipa"), Qt::CaseInsensitive) == 0)
        return PackageKind::Ipa;
    if (suffix.compare(QLatin1String("apk"), Qt::CaseInsensitive) == 0)
        return PackageKind::Apk;
    return std::nullopt;
}

std::unique_ptr<NewProcessController> makeHostingJob(PackageKind kind, const QUrl& package, StatusSink& view,
                                                     QObject* parent) {
    if (kind == PackageKind::Apk)
        return std::make_unique<NewAPKProcessController>(package, view, parent);
    return std::make_unique<NewProcessController>(package, view, parent);
}
