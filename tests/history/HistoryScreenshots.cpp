// Renders the history pane and a details pane for the README. Set HISTORY_SCREENSHOTS_DIR to write
// into docs/screenshots (scripts/history-screenshots does); otherwise the pictures go to a
// temporary folder and are only checked for content.
#include "HistoryFixture.h"

#include "app/ui/history/InstallDetailButton.h"

#include <QBuffer>
#include <QDir>
#include <QLinearGradient>
#include <QPainter>
#include <QSignalSpy>

namespace {

// A tile shaded from one colour to another with a white letter, as a data URL.
QString iconDataUrl(QColor from, QColor to, const QString& letter) {
    QImage image(128, 128, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    QLinearGradient fill(0, 0, 128, 128);
    fill.setColorAt(0, from);
    fill.setColorAt(1, to);
    p.fillRect(image.rect(), fill);
    p.setRenderHint(QPainter::Antialiasing);
    QFont f;
    f.setPixelSize(72);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(image.rect(), Qt::AlignCenter, letter);
    p.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return QStringLiteral("data:image/png;base64,") + QString::fromLatin1(png.toBase64());
}

QString outputDir() {
    const QString dir = qEnvironmentVariable("HISTORY_SCREENSHOTS_DIR");
    return dir.isEmpty() ? testsupport::makeTempDir(QStringLiteral("shots")) : dir;
}

} // namespace

class HistoryScreenshots : public HistoryFixture {};

TEST_F(HistoryScreenshots, HistoryAndDetails) {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const QString owner = QStringLiteral("screenshot-user");
    addApp(owner, QStringLiteral("Ledger0001"), QStringLiteral("Pocket Ledger"),
           QStringLiteral("2024/11/18 16:42"),
           iconDataUrl(QColor(0x2f, 0x80, 0xed), QColor(0x1b, 0x3a, 0x8c), QStringLiteral("L")));
    addApp(owner, QStringLiteral("Trail00001__android"), QStringLiteral("Trailhead"),
           QStringLiteral("2024/10/02 09:05"),
           iconDataUrl(QColor(0x27, 0xae, 0x60), QColor(0x0e, 0x5e, 0x35), QStringLiteral("T")));
    addApp(owner, QStringLiteral("Brew000001"), QStringLiteral("Morning Brew"),
           QStringLiteral("2024/08/27 07:30"),
           iconDataUrl(QColor(0xf2, 0x99, 0x4a), QColor(0xa0, 0x4a, 0x12), QStringLiteral("B")));
    addApp(owner, QStringLiteral("Orbit00001"), QStringLiteral("Orbit Notes"),
           QStringLiteral("2024/06/11 13:20"));
    const QMap<QString, QString> agents = corpusAgents();
    for (const auto& [key, n] :
         {std::pair{"iOS 18.7", 5}, {"iOS 16.6", 3}, {"Android 14", 2}, {"mac os ", 1}})
        for (int i = 0; i < n; ++i)
            addInstall(QStringLiteral("Ledger0001"), agents.value(QString::fromLatin1(key)));

    const auto pane = shownPane(owner);
    pane->resize(320, 420);
    pane->show();
    ASSERT_EQ(pane->apps().size(), 4);
    const auto details = loadedDetails(pane->apps().at(0));
    details->resize(760, 500);
    details->show();
    QCoreApplication::sendPostedEvents(); // lay out the install figures before the popover is placed
    details->infoButton()->click();

    const QString dir = outputDir();
    QDir().mkpath(dir);
    const QImage list = pane->grab().toImage();
    const QImage detail = details->grab().toImage();
    EXPECT_TRUE(list.save(dir + QStringLiteral("/history-list.png")));
    EXPECT_TRUE(detail.save(dir + QStringLiteral("/app-details.png")));
    // Not blank: the rows and the code leave many distinct colours.
    QSet<QRgb> colours;
    for (int y = 0; y < detail.height(); y += 3)
        for (int x = 0; x < detail.width(); x += 3)
            colours.insert(detail.pixel(x, y));
    EXPECT_GT(colours.size(), 20);
    QLocale::setDefault(QLocale::c());
}
