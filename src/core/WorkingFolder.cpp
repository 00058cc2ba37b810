#include "core/WorkingFolder.h"

#include <QDir>
#include <QStandardPaths>

QString documentsFolder() {
    QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (docs.isEmpty())
        docs = QDir::homePath() + QStringLiteral("/Documents");
    return docs;
}

QString workingFolder() {
    return documentsFolder() + QStringLiteral("/tempVantry");
}
