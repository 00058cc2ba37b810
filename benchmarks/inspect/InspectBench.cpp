// Time from inspect() to the record for packages that are mostly one large stored asset.
// The packages are made once per size in a scratch folder and deleted afterwards.
#include "inspect/PackageFactory.h"
#include "inspect/ParseAPK.h"
#include "inspect/ParseIPA.h"
#include "plist/PlistReader.h"
#include "support/TestSupport.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

namespace {

bool inspectOnce(Inspector* inspector, const QString& path) {
    bool done = false;
    bool ok = false;
    inspector->onComplete = [&](const PackageRecord&) { done = ok = true; };
    inspector->onFailure = [&](const QString&) { done = true; };
    inspector->inspect(QUrl::fromLocalFile(path));
    testsupport::waitUntil([&] { return done; }, 600000);
    return ok;
}

void run(benchmark::State& state, bool android) {
    const qint64 size = state.range(0) << 20;
    const QString dir = testsupport::makeTempDir(QStringLiteral("bench"));
    QString path;
    if (android) {
        packages::AndroidApp app;
        app.assetSize = size;
        path = packages::buildApk(dir + QStringLiteral("/big.apk"), app);
    } else {
        path = packages::zipFiles(dir + QStringLiteral("/big.ipa"),
                                  {{QStringLiteral("Payload/Big.app/Info.plist"),
                                    packages::xmlPlist(QVariantMap{
                                        {QStringLiteral("CFBundleIdentifier"), QStringLiteral("big")}})}},
                                  QStringLiteral("Payload/Big.app/Data/asset.bin"), size);
    }
    for (auto _ : state) {
        if (!inspectOnce(android ? static_cast<Inspector*>(new ParseAPK) : new ParseIPA, path))
            state.SkipWithError("inspection failed");
    }
    state.counters["package_MB"] = double(QFileInfo(path).size() >> 20);
    QDir(dir).removeRecursively();
}

void BM_InspectIpa(benchmark::State& state) {
    run(state, false);
}
void BM_InspectApk(benchmark::State& state) {
    run(state, true);
}

// Refusing a binary Info.plist nested range(0) arrays deep, alone and as a whole inspection.
void BM_RefuseDeepPlist(benchmark::State& state) {
    const QByteArray deep = packages::deepBinaryPlist(int(state.range(0)));
    for (auto _ : state) {
        if (PlistReader::fromBytes(deep).problem != PlistReader::Problem::Refused)
            state.SkipWithError("not refused");
    }
}
void BM_InspectDeepPlistIpa(benchmark::State& state) {
    const QString dir = testsupport::makeTempDir(QStringLiteral("bench"));
    const QString path = packages::zipFiles(
        dir + QStringLiteral("/deep.ipa"),
        {{QStringLiteral("Payload/X.app/Info.plist"), packages::deepBinaryPlist(int(state.range(0)))}});
    for (auto _ : state) {
        if (inspectOnce(new ParseIPA, path))
            state.SkipWithError("not refused");
    }
    QDir(dir).removeRecursively();
}

} // namespace

BENCHMARK(BM_RefuseDeepPlist)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InspectDeepPlistIpa)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_InspectIpa)->Arg(10)->Arg(200)->Arg(1024)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_InspectApk)->Arg(10)->Arg(200)->Arg(1024)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char** argv) {
    // Private HOME, as in the tests: the working folder must not touch the user's Documents.
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + QStringLiteral("/.config")));
    QDir().mkpath(home.path() + QStringLiteral("/Documents"));
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
