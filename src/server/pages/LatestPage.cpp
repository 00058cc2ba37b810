#include "server/pages/LatestPage.h"

#include "records/ZappWire.h"
#include "server/pages/InstallPage.h"
#include "server/pages/ReleaseNotes.h"

QString newerVersionNotice(const QString& newerVersion, const QString& latestUrl) {
    if (latestUrl.isEmpty())
        return {};
    return QStringLiteral(
               "<p class=\"newer\" id=\"newer\"><a href=\"%1\">A newer version (%2) is available.</a></p>")
        .arg(htmlEscape(latestUrl), htmlEscape(newerVersion));
}

QString earlierBuildsSection(const QList<Zapp>& builds, const QString& publicUrl) {
    if (builds.isEmpty())
        return {};
    QString items;
    for (const Zapp& build : builds) {
        const QString page = ZappWire::publicLink(publicUrl, build.appid);
        const QString notes = releaseNotesFirstLine(build.appdescription);
        items += QStringLiteral("<li><a href=\"%1\">Version %2</a> <span class=\"date\">%3</span>"
                                "<a class=\"get\" href=\"%1/install\">Install</a>%4</li>")
                     .arg(htmlEscape(page), htmlEscape(build.appversion), htmlEscape(build.appdate),
                          notes.isEmpty()
                              ? QString()
                              : QStringLiteral("<br><span class=\"note\">%1</span>").arg(htmlEscape(notes)));
    }
    return QStringLiteral("<div class=\"card builds\" id=\"builds\"><h2>Earlier builds</h2><ul>%1</ul></div>")
        .arg(items);
}

QString latestPageStyle() {
    return QStringLiteral(
        ".newer{margin:0 0 12px;font-weight:600}.newer a{color:var(--accent)}"
        ".builds{margin-top:16px;text-align:left}.builds h2{font-size:1rem;margin:0 0 8px}"
        ".builds ul{list-style:none;margin:0;padding:0}.builds li{padding:8px 0;border-top:1px solid "
        "rgba(128,128,128,.2)}.builds a{color:var(--accent)}.builds "
        ".date{color:var(--muted);font-size:.92rem}"
        ".builds .get{float:right;font-weight:600}");
}
