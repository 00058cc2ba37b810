#include "UiTestSupport.h"

#include "../backend/CannedServer.h"

#include "support/TestSupport.h"
#include "ui/AvatarLoader.h"
#include "ui/SettingsView.h"

#include <QBuffer>
#include <QLabel>

#include <gtest/gtest.h>

// The provider's picture, and the account's only from an answer that is an image (the account's
// name from the server: ShellTest).
TEST(SettingsViewTest, ShowsTheAccountAndAPictureOnlyFromAnImageAnswer) {
    uitest::useTestLook();
    CannedServer server;
    QImage red(8, 8, QImage::Format_ARGB32);
    red.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    red.save(&buffer, "PNG");
    const struct {
        int status;
        QByteArray type, body;
    } refused[] = {{404, "image/png", png}, {200, "text/html", png}, {200, "image/png", "not a picture"}};
    for (const auto& r : refused) {
        SCOPED_TRACE(r.type.toStdString() + " " + std::to_string(r.status));
        server.setAnswer(r.status, r.body, true, r.type);
        QObject context;
        int images = 0, refusals = 0;
        loadAvatar(
            QUrl(server.baseUrl() + "a.png"), &context, [&](const QImage&) { ++images; },
            [&] { ++refusals; });
        ASSERT_TRUE(testsupport::waitUntil([&] { return images + refusals > 0; }));
        EXPECT_EQ(images, 0);
    }

    server.setAnswer(200, png, true, "image/png");
    SettingsView view;
    view.showProvider(QStringLiteral("Dropbox"), QStringLiteral("dropbox"));
    view.showUser({QStringLiteral("Ann Example"), QStringLiteral("ann@example.com"), QStringLiteral("id1"),
                   server.baseUrl() + "ok.png"});
    EXPECT_FALSE(view.hostImage()->pixmap().isNull());
    ASSERT_TRUE(testsupport::waitUntil([&] { return view.hasAvatar(); }));
    // The red picture, cut round, fills the middle of the avatar.
    const QImage shown = view.avatarImage()->pixmap().toImage();
    EXPECT_EQ(shown.pixelColor(shown.width() / 2, shown.height() / 2), QColor(Qt::red));
}
