#pragma once

#include "inspect/Inspector.h"
#include "inspect/ParseAPK.h"
#include "inspect/ParseIPA.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

struct Outcome {
    std::optional<PackageRecord> record;
    Preflight preflight;
    QString failure;
    int reports = 0;
};

// The inspector of a package's kind, told by its suffix.
inline Inspector* inspectorFor(const QString& package) {
    return package.endsWith(".apk") ? static_cast<Inspector*>(new ParseAPK) : new ParseIPA;
}

// Runs one inspection to its report and checks the reporting contract on the way: nothing
// from inside inspect(), exactly one report. whileWaiting runs at each look for the report.
inline Outcome inspectPackage(Inspector* inspector, const QString& path,
                              const std::function<void()>& whileWaiting = {}) {
    auto outcome = std::make_shared<Outcome>();
    inspector->onComplete = [outcome, inspector](const PackageRecord& r) {
        outcome->record = r;
        outcome->preflight = inspector->preflight();
        ++outcome->reports;
    };
    inspector->onFailure = [outcome](const QString& m) { outcome->failure = m, ++outcome->reports; };
    inspector->inspect(QUrl::fromLocalFile(path));
    EXPECT_EQ(outcome->reports, 0) << "reported synchronously";
    const auto reported = [&] {
        if (whileWaiting)
            whileWaiting();
        return outcome->reports > 0;
    };
    EXPECT_TRUE(testsupport::waitUntil(reported, 60000)) << "no report (hang)";
    QCoreApplication::processEvents();
    EXPECT_EQ(outcome->reports, 1);
    EXPECT_EQ(outcome->record.has_value(), outcome->failure.isEmpty());
    return *outcome;
}
