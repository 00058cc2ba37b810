// Renders the screens shown in the README. SCREENSHOT_DIR names the folder
// (scripts/screenshots points it at docs/screenshots); without it they go to the build folder.
#include "UiTestSupport.h"

#include "app/ui/JobSheet.h"
#include "app/ui/LoginView.h"
#include "app/ui/MainPanes.h"
#include "app/ui/MainWindow.h"
#include "app/ui/ProcessView.h"
#include "app/ui/RightView.h"
#include "app/ui/SettingsView.h"
#include "app/ui/UserProfile.h"
#include "qrcode/QRCodeDocument.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QSet>

#include <gtest/gtest.h>

namespace {

QString outputDir() {
    QString dir = qEnvironmentVariable("SCREENSHOT_DIR");
    if (dir.isEmpty())
        dir = testsupport::binaryDir() + QStringLiteral("/screenshots");
    QDir().mkpath(dir);
    return dir;
}

void save(QWidget* widget, const QString& name) {
    const QImage image = uitest::render(widget);
    const QString path = outputDir() + QLatin1Char('/') + name + QStringLiteral(".png");
    ASSERT_TRUE(image.save(path)) << path.toStdString();
    // A capture of one colour would mean the widget never painted.
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 7)
        for (int x = 0; x < image.width(); x += 7)
            colours.insert(image.pixel(x, y));
    EXPECT_GT(colours.size(), 8) << name.toStdString();
}

class Screenshots : public ::testing::Test {
protected:
    void SetUp() override {
        uitest::useTestLook();
        UserProfile::setSource([](QObject*, UserProfile::OnUser onUser) {
            onUser({QStringLiteral("Ada Lovelace"), QStringLiteral("ada@example.com"), QStringLiteral("u1"),
                    QString()});
        });
    }
    void TearDown() override { UserProfile::setSource({}); }
};

TEST_F(Screenshots, SignInScreen) {
    MainWindow window;
    auto* login = new LoginView;
    login->setShouldStopAnimation(true);
    window.setContent(login);
    window.resize(920, 600);
    save(&window, QStringLiteral("sign-in"));
}

TEST_F(Screenshots, CreatePane) {
    MainWindow window;
    window.setContent(new MainPanes);
    window.resize(920, 600);
    save(&window, QStringLiteral("create-pane"));
}

TEST_F(Screenshots, SettingsPane) {
    MainWindow window;
    auto* panes = new MainPanes;
    window.setContent(panes);
    window.resize(920, 600);
    window.show();
    panes->settingsAction();
    save(&window, QStringLiteral("settings-pane"));
}

TEST_F(Screenshots, SheetTransferring) {
    JobSheet sheet(nullptr);
    ProcessView* view = sheet.processView();
    view->setStatus(QStringLiteral("Processing your .ipa"), QStringLiteral("This takes few minutes."),
                    ProcessState::transferring);
    view->setProgress(QStringLiteral("42.17 %"), 42.17);
    save(&sheet, QStringLiteral("sheet-transferring"));
}

TEST_F(Screenshots, SheetCompleted) {
    JobSheet sheet(nullptr);
    ProcessView* view = sheet.processView();
    const QString link = QStringLiteral("https://get.example.com/aB3dE5gH7j");
    view->setStatus(QStringLiteral("Process Complete"), QStringLiteral("The app is hosted here\n") + link,
                    ProcessState::completed);
    const auto qr = QRCodeDocument::forLink(link).imageWithDimension(300, 1);
    ASSERT_TRUE(qr.has_value());
    view->setResultImage(*qr);
    save(&sheet, QStringLiteral("sheet-completed"));
}

} // namespace
