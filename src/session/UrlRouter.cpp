#include "session/UrlRouter.h"

#include "core/NotificationCenter.h"
#include "storage/drive/GoogleSignIn.h"
#include "storage/dropbox/DropBoxSignIn.h"

#include <QUrl>
#include <QUrlQuery>

UrlRoute routeURL(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return UrlRoute::Ignored;
    if (DropBoxSignIn* dropbox = DropBoxSignIn::pending(); dropbox && dropbox->handleRedirectURL(url))
        return UrlRoute::Dropbox;
    if (GoogleSignIn* google = GoogleSignIn::pending(); google && google->handleRedirectURL(url))
        return UrlRoute::Google;
    // URLs arrive with scheme and host in lower case ("vantry://zohocallback").
    if (url.host().compare(QLatin1String("zohoCallback"), Qt::CaseInsensitive) == 0 &&
        url.scheme().startsWith(QLatin1String("vantry"))) {
        NotificationCenter::instance().post(
            QStringLiteral("zohocode_Receiver"),
            {{QStringLiteral("code"),
              QUrlQuery(url).queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded)}});
        return UrlRoute::Zoho;
    }
    return UrlRoute::Ignored;
}
