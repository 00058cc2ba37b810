#pragma once

#include <QDateTime>
#include <QString>
#include <QUrl>

// The fixed names and the text rules of a hosting job.
namespace JobFormat {

inline const QString applicationFolderName = QStringLiteral("Vantry");
inline const QString jobFolderTimeFormat = QStringLiteral("yyyy_MM_dd_HH_mm_ss");
inline const QString fallbackTimeFormat = QStringLiteral("yy/MM/dd_HH:mm");
inline const QString manifestFileName = QStringLiteral("manifest.plist");
inline const QString iconFileName = QStringLiteral("icon.png");
inline const QString qrFileName = QStringLiteral("qr.png");
inline const QString installUrlPrefix = QStringLiteral("itms-services://?action=download-manifest&url=");
constexpr int appIdLength = 10;
constexpr int qrImageSize = 700;

// The package's file name with every occurrence of extension (".ipa", ".apk") removed in any
// letter case ("APP.IPA" → "APP"); the
// fallback "Vantry_<yy/MM/dd_HH:mm>" when the URL has no last component.
QString fileName(const QUrl& url, const QString& extension, const QDateTime& now);

// The package's local path as the job hands it to uploadFile: the file URL's text without
// "file://", percent-encoded with the URL-query-allowed characters (the clients decode it once).
QString encodedLocalPath(const QUrl& url);

// fraction × 100 rounded half away from zero to two decimals, in its shortest exact form with a
// decimal point, and " %": 0.12345 → "12.35 %", 0.5 → "50.0 %".
QString percentageText(double fraction);

// Percent-encodes all but letters and digits of any script and -_.!~*'().
QString encodeForInstallUrl(const QString& link);
// "itms-services://?action=download-manifest&url=" + the encoded manifest link.
QString installUrl(const QString& manifestLink);

// The backend's production base URL (ending in "/"); QR codes never carry the development one.
QString productionBaseUrl();

} // namespace JobFormat
