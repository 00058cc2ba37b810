// The set-up and clean-up steps of CTest's "postgres" fixture: one throwaway cluster for every
// test of a run. "start STATE" leaves it running and described in STATE; when PostgreSQL cannot
// be started here it writes nothing and the tests skip with the reason. "stop STATE" removes it.
#include "PostgresCluster.h"

#include <QFile>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[1], "start") != 0 && std::strcmp(argv[1], "stop") != 0)) {
        std::fputs("usage: postgres_test_cluster start|stop STATE-FILE\n", stderr);
        return 2;
    }
    const QString state = QString::fromLocal8Bit(argv[2]);
    if (std::strcmp(argv[1], "stop") == 0) {
        std::unique_ptr<PostgresCluster> cluster = PostgresCluster::adopt(state);
        QFile::remove(state);
        if (cluster)
            cluster->removeAll();
        return 0;
    }
    QFile::remove(state);
    QString reason;
    std::unique_ptr<PostgresCluster> cluster = PostgresCluster::create(&reason);
    if (!cluster) {
        std::printf("no shared PostgreSQL for this run: %s\n", qPrintable(reason));
        return 0;
    }
    if (!cluster->writeState(state)) {
        std::printf("cannot write %s\n", argv[2]);
        return 1;
    }
    cluster->release();
    return 0;
}
