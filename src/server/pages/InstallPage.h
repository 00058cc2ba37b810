#pragma once

#include "records/Zapp.h"

#include <QByteArray>
#include <QDate>
#include <QString>

// Which kind of device asks for a page or an install, from its user agent.
enum class ViewerPlatform { iOS, Android, Other };
ViewerPlatform viewerPlatform(const QString& userAgent);
// "ios", "android" or "other", as install records store it.
QString platformName(ViewerPlatform platform);

struct InstallPageContent {
    Zapp app;
    QString pageUrl;    // the page's own public URL (what the QR code holds)
    QString installUrl; // counts the install, then redirects to the package or manifest
    QString qrSvg;      // inline SVG of the page's QR code, made by us (not escaped)
    ViewerPlatform viewer = ViewerPlatform::Other;
    QDate today; // what a profile's expiry is compared with; invalid: the current date
    // The device check (DeviceCheckPage.h), made by us (not escaped): its answer above the
    // install button, its offer below; withholdInstall leaves the button out.
    QString deviceAnswer;
    QString deviceOffer;
    bool withholdInstall = false;
    // A build that is no longer its app's newest: that one's version, and the stable page.
    QString newerVersion;
    QString latestUrl;
    // Markup of ours after the card (the stable page's earlier builds; not escaped).
    QString afterCard;
};

// One self-contained, mobile-first HTML page: no external fonts, scripts or images. Every
// value taken from the record is escaped.
QByteArray renderInstallPage(const InstallPageContent& content);
QByteArray renderNotFoundPage();

QString htmlEscape(const QString& text);
