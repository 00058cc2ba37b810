#pragma once

#include "support/TestSupport.h"

#include <QFile>
#include <QMap>
#include <QString>

#include <gtest/gtest.h>

// The real agents of tests/data/history-agents.tsv by the breakdown key each one gives.
inline QMap<QString, QString> corpusAgents() {
    QFile file(testsupport::sourceDir() + QStringLiteral("/tests/data/history-agents.tsv"));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
    QMap<QString, QString> out;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> cols = line.split('\t');
        out.insert(QString::fromUtf8(cols.at(0)), QString::fromUtf8(cols.value(1)));
    }
    return out;
}
