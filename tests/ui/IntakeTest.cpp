#include "UiTestSupport.h"

#include "support/TestSupport.h"
#include "ui/CreateView.h"
#include "ui/FileDialog.h"
#include "ui/widgets/FlatButton.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

using Kind = PackageIntake::Kind;

class IntakeTest : public ::testing::Test {
protected:
    void SetUp() override {
        uitest::useTestLook();
        dir = testsupport::makeTempDir(QStringLiteral("intake"));
        for (const char* name : {"App.ipa", "APP.APK", "notes.txt", "Other.ipa"})
            testsupport::writeFile(dir + QLatin1Char('/') + QLatin1String(name), "PK");
        QDir(dir).mkpath(QStringLiteral("Folder"));
        QDir(dir).mkpath(QStringLiteral("Bundle.ipa"));
        QObject::connect(&view, &CreateView::openFile, [this](const QString& path, Kind kind) {
            opened.push_back({path, kind});
        });
        view.resize(500, 400);
        view.show();
    }
    void TearDown() override { FileDialog::setChooser({}); }

    QString file(const QString& name) const { return dir + QLatin1Char('/') + name; }

    QString dir;
    CreateView view;
    uitest::Drag drag{view.dragView(), {}};
    std::vector<std::pair<QString, Kind>> opened;
};

TEST_F(IntakeTest, DropsAreTakenOrRefusedWithAReason) {
    const struct {
        QStringList names; // files in the test folder, or remote URLs
        std::optional<Kind> kind;
        const char* refusal; // part of the one-line reason
    } rows[] = {
        {{QStringLiteral("App.ipa")}, Kind::Ipa, nullptr},
        {{QStringLiteral("APP.APK")}, Kind::Apk, nullptr},
        {{QStringLiteral("notes.txt")}, std::nullopt, "notes.txt is not an .ipa or .apk file"},
        {{QStringLiteral("App.ipa"), QStringLiteral("Other.ipa")}, std::nullopt, "one package at a time"},
        {{QStringLiteral("Folder")}, std::nullopt, "Folder is a folder"},
        {{QStringLiteral("Bundle.ipa")}, std::nullopt, "Bundle.ipa is a folder"},
        {{QStringLiteral("Gone.ipa")}, std::nullopt, "Gone.ipa can't be read"},
        {{QStringLiteral("https://example.com/App.ipa")}, std::nullopt, "Only files from this computer"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.names.join(u' ').toStdString());
        opened.clear();
        QList<QUrl> urls;
        for (const QString& name : row.names)
            urls.append(name.contains(QLatin1String("://")) ? QUrl(name) : QUrl::fromLocalFile(file(name)));

        // Dropped, and where it is one file also chosen with "Open": the same checks.
        const auto expectOutcome = [&] {
            if (row.kind) {
                ASSERT_EQ(opened.size(), 1u);
                EXPECT_EQ(opened[0], std::pair(file(row.names.constFirst()), *row.kind));
                EXPECT_TRUE(view.message().isEmpty());
            } else {
                EXPECT_TRUE(opened.empty());
                EXPECT_TRUE(view.message().contains(QLatin1String(row.refusal)))
                    << view.message().toStdString();
                EXPECT_FALSE(view.message().contains(QLatin1Char('\n')));
            }
        };
        EXPECT_EQ(drag.enter(urls), row.kind.has_value());
        EXPECT_EQ(view.dragView()->feedback(),
                  row.kind ? DragView::Feedback::Accepting : DragView::Feedback::Refusing);
        drag.drop();
        EXPECT_EQ(view.dragView()->feedback(), DragView::Feedback::Idle);
        expectOutcome();
        if (urls.size() == 1 && urls[0].isLocalFile() && !QFileInfo(urls[0].toLocalFile()).isDir()) {
            opened.clear();
            drag.leave(); // clears the drop's message
            FileDialog::setChooser([&](QWidget*) { return std::optional(urls[0].toLocalFile()); });
            view.openButton()->click();
            expectOutcome();
        }
    }
    // A refused drag that leaves takes its reason with it.
    ASSERT_FALSE(drag.enter({QUrl::fromLocalFile(file(QStringLiteral("notes.txt")))}));
    drag.leave();
    EXPECT_EQ(view.dragView()->feedback(), DragView::Feedback::Idle);
    EXPECT_TRUE(view.message().isEmpty());
    // A cancelled choice says nothing.
    opened.clear();
    int asked = 0;
    FileDialog::setChooser([&](QWidget*) { return ++asked, std::optional<QString>(); });
    view.openButton()->click();
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(opened.empty() && view.message().isEmpty());
}

} // namespace
