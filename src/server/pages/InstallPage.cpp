#include "server/pages/InstallPage.h"

#include "core/EnglishDate.h"
#include "records/ZappWire.h"
#include "server/pages/LatestPage.h"
#include "server/pages/ReleaseNotes.h"
#include "useragent/UAParser.h"

#include <QUrl>

ViewerPlatform viewerPlatform(const QString& userAgent) {
    // The same parser that classifies installs in the history, so a page and the history agree
    // on what a visitor's phone is (a Windows Phone that names Android and iPhone is neither).
    UAParser parser(userAgent);
    const std::optional<OS>& os = parser.os();
    const QString name = os && os->name ? *os->name : QString();
    if (name.compare(QLatin1String("ios"), Qt::CaseInsensitive) == 0)
        return ViewerPlatform::iOS;
    if (name.compare(QLatin1String("android"), Qt::CaseInsensitive) == 0)
        return ViewerPlatform::Android;
    return ViewerPlatform::Other;
}

QString platformName(ViewerPlatform platform) {
    switch (platform) {
    case ViewerPlatform::iOS:
        return QStringLiteral("ios");
    case ViewerPlatform::Android:
        return QStringLiteral("android");
    case ViewerPlatform::Other:
        break;
    }
    return QStringLiteral("other");
}

QString htmlEscape(const QString& text) {
    QString out;
    out.reserve(text.size() + 16);
    for (QChar c : text) {
        switch (c.unicode()) {
        case '&':
            out += QStringLiteral("&amp;");
            break;
        case '<':
            out += QStringLiteral("&lt;");
            break;
        case '>':
            out += QStringLiteral("&gt;");
            break;
        case '"':
            out += QStringLiteral("&quot;");
            break;
        case '\'':
            out += QStringLiteral("&#39;");
            break;
        default:
            out += c;
        }
    }
    return out;
}

namespace {

const char* const kStyle = R"CSS(
:root{color-scheme:light dark;--bg:#f4f5f8;--card:#fff;--text:#1b1d22;--muted:#6b7080;--accent:#3a579a;--warn:#a3461d}
@media (prefers-color-scheme:dark){:root{--bg:#111318;--card:#1c1f26;--text:#eef0f4;--muted:#9aa0ad;--accent:#7c9be0;--warn:#f0a070}}
*{box-sizing:border-box}
body{margin:0;background:var(--bg);color:var(--text);font:16px/1.45 -apple-system,BlinkMacSystemFont,"Segoe UI",Roboto,"Helvetica Neue",Arial,sans-serif}
main{max-width:440px;margin:0 auto;padding:24px 16px 40px}
.card{background:var(--card);border-radius:20px;padding:24px;box-shadow:0 2px 14px rgba(0,0,0,.08);text-align:center}
.icon{width:96px;height:96px;border-radius:22px;display:block;margin:0 auto 12px;object-fit:cover;box-shadow:0 1px 6px rgba(0,0,0,.15)}
h1{font-size:1.5rem;margin:.2em 0 .1em;word-wrap:break-word}
.sub{color:var(--muted);margin:0 0 16px}
dl{display:grid;grid-template-columns:auto 1fr;gap:6px 12px;text-align:left;margin:16px 0}
dt{color:var(--muted)}dd{margin:0;word-break:break-word}
.install{display:block;background:var(--accent);color:#fff;text-decoration:none;font-weight:600;font-size:1.1rem;padding:14px;border-radius:12px;margin:16px 0}
.note{color:var(--muted);font-size:.92rem}
.warn{color:var(--warn);font-weight:600}
.qr{width:220px;height:220px;margin:12px auto 0}.qr svg{width:100%;height:100%}
.hidden{display:none}
)CSS";

// A neutral app-shaped placeholder with the app's initial.
QString placeholderIcon(const QString& name) {
    const QString initial = name.trimmed().isEmpty() ? QStringLiteral("?") : name.trimmed().left(1).toUpper();
    const QString svg = QStringLiteral("<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 96 96'>"
                                       "<rect width='96' height='96' rx='22' fill='rgb(58,87,154)'/>"
                                       "<text x='48' y='62' font-size='44' text-anchor='middle' fill='white' "
                                       "font-family='sans-serif'>%1</text></svg>")
                            .arg(htmlEscape(initial));
    return QStringLiteral("data:image/svg+xml;utf8,") + svg;
}

// Only web links and image data URLs are used as the icon; anything else gets the placeholder.
QString iconSource(const Zapp& app) {
    const QString icon = app.appicon.trimmed();
    if (icon.startsWith(QLatin1String("data:image/"), Qt::CaseInsensitive))
        return icon;
    const QUrl url(icon);
    if (url.isValid() && (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http")) &&
        !url.host().isEmpty())
        return icon;
    return placeholderIcon(app.appname);
}

QString row(const QString& label, const QString& value) {
    if (value.trimmed().isEmpty())
        return {};
    return QStringLiteral("<dt>%1</dt><dd>%2</dd>").arg(label, htmlEscape(value));
}

// What the build's provisioning profile means for a tester; nothing for a record without it.
QString profileNotes(const Zapp& app, const QDate& today) {
    QString notes;
    if (app.profileKind == QLatin1String("app-store"))
        notes += QStringLiteral("<p class=\"warn\" id=\"profile\">This build installs only through the App "
                                "Store, not from this page.</p>");
    bool counted = false;
    const int devices = app.provisionedDevices.toInt(&counted);
    if (counted && devices > 0)
        notes += QStringLiteral("<p class=\"note\" id=\"devices\">Installs only on %1 registered %2.</p>")
                     .arg(devices == 1 ? QStringLiteral("the one") : QStringLiteral("the %1").arg(devices),
                          devices == 1 ? QStringLiteral("device") : QStringLiteral("devices"));
    else if (counted)
        notes += QStringLiteral("<p class=\"note\" id=\"devices\">Installs only on registered devices.</p>");
    const QDate expiry = QDate::fromString(app.profileExpiry, Qt::ISODate);
    if (expiry.isValid() && expiry < today)
        notes += QStringLiteral("<p class=\"warn\" id=\"expiry\">Expired on %1: the app no longer opens.</p>")
                     .arg(englishDate(expiry));
    else if (expiry.isValid())
        notes +=
            QStringLiteral("<p class=\"note\" id=\"expiry\">Expires on %1.</p>").arg(englishDate(expiry));
    return notes;
}

// The rules of the blocks a page has beyond the card's own; a page without them is byte for byte
// what it was before them.
QString extraStyle(const InstallPageContent& c) {
    QString style;
    if (!c.app.appdescription.trimmed().isEmpty())
        style += releaseNotesStyle();
    if (!c.latestUrl.isEmpty() || !c.afterCard.isEmpty())
        style += latestPageStyle();
    return style;
}

} // namespace

QByteArray renderInstallPage(const InstallPageContent& c) {
    const bool androidApp = ZappWire::isAndroid(c.app.appid);
    const ViewerPlatform target = androidApp ? ViewerPlatform::Android : ViewerPlatform::iOS;
    const QString name = c.app.appname.isEmpty() ? QStringLiteral("Untitled app") : c.app.appname;

    QString action;
    if (c.viewer == target && c.withholdInstall) {
        action.clear();
    } else if (c.viewer == target) {
        action = QStringLiteral("<a class=\"install\" id=\"install\" href=\"%1\">Install</a>")
                     .arg(htmlEscape(c.installUrl));
        action += androidApp
                      ? QStringLiteral(
                            "<p class=\"note\">After the download, open the file. If Android asks, allow "
                            "installs from this source (your browser or file manager).</p>")
                      : QStringLiteral(
                            "<p class=\"note\">Open this page in Safari, tap Install and confirm. The app "
                            "appears on your home screen.</p>");
    } else if (c.viewer == ViewerPlatform::Other && androidApp) {
        action =
            QStringLiteral("<a class=\"install\" id=\"install\" href=\"%1\">Download APK</a>"
                           "<p class=\"note\">Scan the code with your Android phone to install it there.</p>")
                .arg(htmlEscape(c.installUrl));
    } else if (c.viewer == ViewerPlatform::Other) {
        // iPadOS presents itself as a Mac; a touch screen tells them apart.
        action = QStringLiteral(
                     "<a class=\"install hidden\" id=\"install\" href=\"%1\">Install</a>"
                     "<p class=\"note\" id=\"hint\">Scan the code with your iPhone or iPad camera to "
                     "install this app.</p>"
                     "<script>if(/Macintosh/.test(navigator.userAgent)&&navigator.maxTouchPoints>1){"
                     "document.getElementById('install').classList.remove('hidden');"
                     "document.getElementById('hint').textContent='Tap Install and confirm.';}</script>")
                     .arg(htmlEscape(c.installUrl));
    } else {
        action = androidApp
                     ? QStringLiteral("<p class=\"warn\">This is an Android app. Open this page on an "
                                      "Android device to install it.</p>")
                     : QStringLiteral("<p class=\"warn\">This is an iOS app. Open this page on an iPhone "
                                      "or iPad to install it.</p>");
    }

    if (!androidApp)
        action += profileNotes(c.app, c.today.isValid() ? c.today : QDate::currentDate());
    action = c.deviceAnswer + action + c.deviceOffer;

    const QString details =
        row(QStringLiteral("Version"), c.app.appversion) + row(QStringLiteral("Size"), c.app.appsize) +
        row(androidApp ? QStringLiteral("Version code") : QStringLiteral("Minimum iOS"), c.app.appMinOS) +
        row(QStringLiteral("Published"), c.app.appdate);

    const QString html =
        QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                       "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">"
                       "<meta name=\"robots\" content=\"noindex\">"
                       "<title>%1</title><style>%2</style></head><body><main><div class=\"card\">%9"
                       "<img class=\"icon\" alt=\"\" src=\"%3\">"
                       "<h1>%1</h1><p class=\"sub\">%4</p>%5<dl>%6</dl>%10"
                       "<div class=\"qr\" id=\"qr\" title=\"%7\">%8</div>"
                       "</div>%11</main></body></html>\n")
            .arg(htmlEscape(name), QString::fromLatin1(kStyle) + extraStyle(c), htmlEscape(iconSource(c.app)),
                 androidApp ? QStringLiteral("Android app") : QStringLiteral("iOS app"), action, details,
                 htmlEscape(c.pageUrl), c.qrSvg, newerVersionNotice(c.newerVersion, c.latestUrl),
                 releaseNotesSection(c.app.appdescription), c.afterCard);
    return html.toUtf8();
}

QByteArray renderNotFoundPage() {
    return QByteArrayLiteral(
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">"
        "<title>Not found</title></head><body><p>This app does not exist or was removed.</p>"
        "</body></html>\n");
}
