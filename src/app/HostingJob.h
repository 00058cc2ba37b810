#pragma once

#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

class NewProcessController;
class QObject;
class StatusSink;

// The packages a hosting job takes, told by their extension in any letter case ("APP.IPA" is an
// iOS package).
enum class PackageKind { Ipa, Apk };
std::optional<PackageKind> packageKindOf(const QString& fileName);

// The job for a package: NewProcessController for .ipa, NewAPKProcessController for .apk.
std::unique_ptr<NewProcessController> makeHostingJob(PackageKind kind, const QUrl& package, StatusSink& view,
                                                     QObject* parent = nullptr);
