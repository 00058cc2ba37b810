#pragma once

#include "app/HostingJob.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

// Which packages the window takes: those packageKindOf knows; everything else is refused with a
// one-line reason.
namespace PackageIntake {

using Kind = PackageKind;

struct Verdict {
    std::optional<Kind> kind; // set when the file is taken
    QString path;             // local path of the file
    QString reason;           // why it is refused, one line; empty when taken
};

// For a drag or a drop: exactly one local file, not a folder, with a package extension.
Verdict judge(const QList<QUrl>& urls);
// For a chosen or dropped path: the same, and the file must be readable.
Verdict judgePath(const QString& path);

} // namespace PackageIntake
