#include "server/pages/DeviceCheckPage.h"

#include "server/Database.h"
#include "server/devices/DeviceCheckHandlers.h"

#include <QUrl>

namespace {

const char* const kStyle =
    "<style>.check{display:block;border:2px solid var(--accent);color:var(--accent);text-decoration:none;"
    "font-weight:600;padding:10px;border-radius:12px;margin:16px 0 6px}"
    ".ok{font-weight:600}code{font-size:.95rem;word-break:break-all;user-select:all}"
    ".udid{background:var(--bg);border-radius:10px;padding:10px;margin:8px 0}"
    "button{font:inherit;color:var(--accent);background:none;border:0;padding:6px 10px;cursor:pointer}"
    "</style>";

QString offer(const QString& pageUrl) {
    return QStringLiteral("<a class=\"check\" id=\"check-device\" href=\"%1/device.mobileconfig\">Check my "
                          "device</a><p class=\"note\">Tells you before you install whether this build "
                          "includes your device: allow the download, open Settings and install the "
                          "profile there; Safari then comes back here with the answer. Nothing stays "
                          "installed.</p>")
        .arg(htmlEscape(pageUrl));
}

// An owner address good enough for a mail link; "" otherwise.
QString mailAddress(const QString& email) {
    const QString e = email.trimmed();
    const qsizetype at = e.indexOf(QLatin1Char('@'));
    if (at <= 0 || at == e.size() - 1 || e.size() > 254)
        return {};
    for (QChar c : e) {
        if (c.isSpace() || c.category() == QChar::Other_Control || QStringLiteral("<>\"?&,;").contains(c))
            return {};
    }
    return e;
}

QString missingAnswer(const StoredDeviceCheck& check, const QString& appName, const QString& ownerEmail) {
    QString html = QStringLiteral("<p class=\"warn\" id=\"device-answer\">This build does not include your "
                                  "device. Send this code to the developer:</p>"
                                  "<div class=\"udid\"><code id=\"udid\">%1</code></div>"
                                  "<button type=\"button\" id=\"copy-udid\" onclick=\"navigator.clipboard."
                                  "writeText(document.getElementById('udid').textContent).then(()=>{this."
                                  "textContent='Copied'})\">Copy</button>")
                       .arg(htmlEscape(check.udid));
    const QString address = mailAddress(ownerEmail);
    if (!address.isEmpty()) {
        const QString body = QStringLiteral("Please add my device to the next build of %1.\n\nDevice ID: "
                                            "%2\nModel: %3\n")
                                 .arg(appName, check.udid, check.product);
        const QString url =
            QStringLiteral("mailto:") + QString::fromUtf8(QUrl::toPercentEncoding(address, "@")) +
            QStringLiteral("?subject=") +
            QString::fromUtf8(QUrl::toPercentEncoding(QStringLiteral("My device for %1").arg(appName))) +
            QStringLiteral("&body=") + QString::fromUtf8(QUrl::toPercentEncoding(body));
        html += QStringLiteral("<a id=\"mail-udid\" href=\"%1\">E-mail it to the developer</a>")
                    .arg(htmlEscape(url));
    }
    return html;
}

} // namespace

DeviceCheckSection deviceCheckSection(Database& db, const StoredApp& app, const QString& pageUrl,
                                      ViewerPlatform viewer, const QString& checkId, qint64 now) {
    const bool provisioned =
        app.profilekind == QLatin1String("development") || app.profilekind == QLatin1String("ad-hoc");
    DeviceCheckSection section;
    bool answered = false;
    if (!checkId.isEmpty()) {
        const std::optional<StoredDeviceCheck> check = db.deviceCheck(checkId);
        answered = check && check->appid == app.appid &&
                   check->createdAt >= now - DeviceCheckHandlers::kCheckSeconds;
        if (!answered) {
            section.answer = QStringLiteral(
                "<p class=\"note\" id=\"device-answer\">This device check has expired; check again.</p>");
        } else if (check->included) {
            section.answer =
                QStringLiteral("<p class=\"ok\" id=\"device-answer\">This build includes your device.</p>"
                               "<p class=\"note\" id=\"device-model\">%1 · iOS build %2</p>")
                    .arg(htmlEscape(check->product), htmlEscape(check->version));
        } else {
            const std::optional<StoredUser> owner = db.user(app.userid);
            section.answer = missingAnswer(*check, app.appname, owner ? owner->email : QString());
            section.withholdInstall = true;
        }
    }
    if (!answered && viewer == ViewerPlatform::iOS && provisioned) {
        const std::optional<QString> ids = db.provisionedDeviceIds(app.appid);
        if (ids && !ids->isEmpty())
            section.offer = offer(pageUrl);
    }
    if (!section.answer.isEmpty() || !section.offer.isEmpty())
        section.answer.prepend(QLatin1String(kStyle));
    return section;
}
