#include "app/JobFormat.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(JobFormat, NamesPercentagesAndEncodings) {
    const QDateTime now(QDate(2024, 3, 5), QTime(7, 8, 9));
    const std::pair<QString, QString> names[] = {{"/x/My.ipa.ipa", "My"}, {"/x/Big Game.ipa", "Big Game"},
                                                 {"/x/a.ipa.b", "a.b"},   {"/x/APP.IPA", "APP"},
                                                 {"/x/My.Ipa.ipa", "My"}, {"/x/", "Vantry_24/03/05_07:08"}};
    for (const auto& [path, name] : names)
        EXPECT_EQ(JobFormat::fileName(QUrl::fromLocalFile(path), QStringLiteral(".ipa"), now), name)
            << path.toStdString();

    const std::pair<double, const char*> percentages[] = {{0.12345, "12.35 %"}, {0.5, "50.0 %"},
                                                          {1.0, "100.0 %"},     {0.0, "0.0 %"},
                                                          {0.001, "0.1 %"},     {0.33333, "33.33 %"}};
    for (const auto& [fraction, text] : percentages)
        EXPECT_EQ(JobFormat::percentageText(fraction), QLatin1String(text)) << fraction;

    const std::pair<QString, QString> links[] = {
        {"a/b c?d=e", "a%2Fb%20c%3Fd%3De"},
        {"-_.!~*'()", "-_.!~*'()"},
        {"Café日本9", "Café日本9"},
        {"https://h/x&y#z%€", "https%3A%2F%2Fh%2Fx%26y%23z%25%E2%82%AC"},
    };
    for (const auto& [link, encoded] : links)
        EXPECT_EQ(JobFormat::encodeForInstallUrl(link), encoded) << link.toStdString();

    // Encoded once for the clients, which decode it once.
    const QString path = QStringLiteral("/home/u/My App%20+é.ipa");
    const QString encoded = JobFormat::encodedLocalPath(QUrl::fromLocalFile(path));
    EXPECT_EQ(encoded, QStringLiteral("/home/u/My%20App%2520+%C3%A9.ipa"));
    EXPECT_EQ(QUrl::fromPercentEncoding(encoded.toUtf8()), path);
}

} // namespace
