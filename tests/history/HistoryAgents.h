#pragma once

#include "support/TestSupport.h"

#include <QMap>
#include <QString>

// The real agents of tests/data/history-agents.tsv by the breakdown key each one gives.
inline QMap<QString, QString> corpusAgents() {
    QMap<QString, QString> out;
    for (const QByteArrayList& row : testsupport::tsvRows(testsupport::dataPath("history-agents.tsv"), 2))
        out.insert(QString::fromUtf8(row[0]), QString::fromUtf8(row[1]));
    return out;
}
