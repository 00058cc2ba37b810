#include "UiTestSupport.h"

#include "support/TestSupport.h"
#include "ui/CreateView.h"
#include "ui/FileDialog.h"
#include "ui/widgets/FlatButton.h"

#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QMimeData>

#include <gtest/gtest.h>

namespace {

using Kind = PackageIntake::Kind;

struct Opened {
    QString path;
    Kind kind;
};

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

    // Drags urls over the drop target; returns whether the enter was taken with the copy action.
    bool dragEnter(const QList<QUrl>& urls) {
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QCoreApplication::sendEvent(view.dragView(), &enter);
        return enter.isAccepted() && enter.dropAction() == Qt::CopyAction;
    }
    void drop() {
        QDropEvent event(QPointF(10, 10), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(view.dragView(), &event);
    }

    QString dir;
    QMimeData mime;
    CreateView view;
    std::vector<Opened> opened;
};

TEST_F(IntakeTest, DropsAreTakenOrRefusedWithAReason) {
    struct Row {
        const char* what;
        QStringList names;
        std::optional<Kind> kind;
        const char* refusal; // part of the one-line reason
    };
    const Row rows[] = {
        {"ipa", {QStringLiteral("App.ipa")}, Kind::Ipa, nullptr},
        {"upper-case apk", {QStringLiteral("APP.APK")}, Kind::Apk, nullptr},
        {"text file", {QStringLiteral("notes.txt")}, std::nullopt, "notes.txt is not an .ipa or .apk file"},
        {"two packages",
         {QStringLiteral("App.ipa"), QStringLiteral("Other.ipa")},
         std::nullopt,
         "one package at a time"},
        {"folder", {QStringLiteral("Folder")}, std::nullopt, "Folder is a folder"},
        {"folder named like a package",
         {QStringLiteral("Bundle.ipa")},
         std::nullopt,
         "Bundle.ipa is a folder"},
        {"missing file", {QStringLiteral("Gone.ipa")}, std::nullopt, "Gone.ipa can't be read"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        opened.clear();
        QList<QUrl> urls;
        for (const QString& name : row.names)
            urls.append(QUrl::fromLocalFile(file(name)));

        EXPECT_EQ(dragEnter(urls), row.kind.has_value());
        EXPECT_EQ(view.dragView()->fileTypeIsOk(), row.kind.has_value());
        EXPECT_EQ(view.dragView()->feedback(),
                  row.kind ? DragView::Feedback::Accepting : DragView::Feedback::Refusing);
        drop();
        EXPECT_EQ(view.dragView()->feedback(), DragView::Feedback::Idle);
        if (row.kind) {
            ASSERT_EQ(opened.size(), 1u);
            EXPECT_EQ(opened[0].path, file(row.names.constFirst()));
            EXPECT_EQ(opened[0].kind, *row.kind);
            EXPECT_TRUE(view.message().isEmpty());
        } else {
            EXPECT_TRUE(opened.empty());
            EXPECT_TRUE(view.message().contains(QLatin1String(row.refusal))) << view.message().toStdString();
            EXPECT_FALSE(view.message().contains(QLatin1Char('\n')));
        }
    }
}

TEST_F(IntakeTest, LeavingClearsTheFeedback) {
    ASSERT_FALSE(dragEnter({QUrl::fromLocalFile(file(QStringLiteral("notes.txt")))}));
    EXPECT_FALSE(view.message().isEmpty());
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(view.dragView(), &leave);
    EXPECT_EQ(view.dragView()->feedback(), DragView::Feedback::Idle);
    EXPECT_TRUE(view.message().isEmpty());
}

TEST_F(IntakeTest, RemoteUrlsAreRefused) {
    EXPECT_FALSE(dragEnter({QUrl(QStringLiteral("https://example.com/App.ipa"))}));
    drop();
    EXPECT_TRUE(opened.empty());
}

TEST_F(IntakeTest, ChooseFileGoesThroughTheSameChecks) {
    struct Row {
        std::optional<QString> answer;
        bool opens;
    };
    const Row rows[] = {
        {std::nullopt, false}, // cancelled
        {file(QStringLiteral("APP.APK")), true},
        {file(QStringLiteral("notes.txt")), false},
    };
    for (const Row& row : rows) {
        opened.clear();
        int asked = 0;
        FileDialog::setChooser([&](QWidget*) {
            ++asked;
            return row.answer;
        });
        view.openButton()->click();
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(opened.size(), row.opens ? 1u : 0u);
        if (row.opens) {
            EXPECT_EQ(opened[0].kind, Kind::Apk);
        }
        // A refused choice says why; a cancelled one says nothing.
        EXPECT_EQ(view.message().isEmpty(), row.opens || !row.answer) << view.message().toStdString();
    }
}

} // namespace
