#pragma once

#include "backend/Zelko.h"
#include "history/InstallBreakdown.h"
#include "records/Zapp.h"
#include "ui/history/ReleaseNotesBox.h"

#include <QImage>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <optional>

class QClipboard;
class QLabel;
class QMenu;
class QPushButton;
class DeviceChecksRow;
class InstallChart;
class InstallDetailButton;
class InstallTimeline;

// Where the details pane hands things to the desktop; tests replace them so nothing opens.
struct DesktopSeams {
    std::function<void(const QUrl&)> openUrl;
    // A path chosen by the user for a file named suggestedName, or empty when cancelled.
    std::function<QString(QWidget* parent, const QString& suggestedName, const QString& filter)> saveFileName;
    std::function<QClipboard*()> clipboard;
    // The release notes' editor (empty: "Edit notes" does nothing).
    ReleaseNotesBox::Editor editNotes;

    // The browser, the file dialog and the system clipboard.
    static DesktopSeams system();
};

// The right pane for one published app: name, version, date, public link (and under it the stable
// link of the app's builds, when it has one, with a copy button of its own), its QR code and icon,
// "Copy to Clipboard" and "Share" (the window's flat buttons), the installs with their breakdown by
// operating system, and the release notes with "Edit notes". A new view is made for every record shown; the
// labels fill at once, the icon and the installs when their answers arrive.
class AppDetailView : public QWidget {
    Q_OBJECT
public:
    static constexpr int QrDimension = 700;

    explicit AppDetailView(const Zapp& app, QWidget* parent = nullptr);
    AppDetailView(const Zapp& app, BackendApi backend, DesktopSeams seams, QWidget* parent = nullptr);

    const Zapp& app() const { return m_app; }
    QString link() const { return m_link; }
    // The code as rendered (700 × 700); the pane shows it scaled down.
    const QImage& qrImage() const { return m_qrImage; }
    // The breakdown text the info button shows; empty until the installs arrive.
    QString installedStr() const { return m_installedStr; }
    const InstallBreakdown& breakdown() const { return m_breakdown; }
    QString installsText() const;
    // "Last 30 days : n", or empty when the server sends no install times.
    QString recentText() const;
    InstallDetailButton* infoButton() const { return m_infoButton; }
    InstallChart* chart() const { return m_chart; }
    InstallTimeline* timeline() const { return m_timeline; }
    QPushButton* copyButton() const { return m_copyButton; }
    QPushButton* shareButton() const { return m_shareButton; }
    QMenu* shareMenu() const { return m_shareMenu; }
    // The device check of a development or ad hoc build; null for other apps.
    DeviceChecksRow* devicesRow() const { return m_devicesRow; }
    // Null for an app without a stable link.
    QLabel* latestLabel() const { return m_latestLabel; }
    QPushButton* copyLatestButton() const { return m_copyLatestButton; }
    ReleaseNotesBox* notesBox() const { return m_notesBox; }
    QString statusText() const;

    // Writes the QR code with the library's exports, the format chosen by the file's extension
    // (png, svg, pdf); false when it cannot be rendered or written.
    bool saveQRCode(const QString& path) const;
    // The mailto: address that sends the link.
    QUrl mailUrl() const;

public slots:
    void copyTo();
    void copyLatest();
    void openInBrowser();
    void sendByMail();
    void saveQRCodeAs(const QString& format);

signals:
    void installsLoaded();
    void iconLoaded();

protected:
    void changeEvent(QEvent* event) override;

private:
    void loadInstalls();
    void showIcon(const QImage& image);

    Zapp m_app;
    BackendApi m_backend;
    DesktopSeams m_seams;
    QString m_link;
    QImage m_qrImage;
    InstallBreakdown m_breakdown;
    QString m_installedStr;

    QLabel* m_titleLabel = nullptr;
    QLabel* m_versionLabel = nullptr;
    QLabel* m_dateLabel = nullptr;
    QLabel* m_linkLabel = nullptr;
    QLabel* m_installsLabel = nullptr;
    QLabel* m_recentLabel = nullptr;
    QLabel* m_statusLabel = nullptr;
    QLabel* m_qrView = nullptr;
    QLabel* m_iconView = nullptr;
    InstallDetailButton* m_infoButton = nullptr;
    InstallChart* m_chart = nullptr;
    InstallTimeline* m_timeline = nullptr;
    QPushButton* m_copyButton = nullptr;
    QPushButton* m_shareButton = nullptr;
    QMenu* m_shareMenu = nullptr;
    DeviceChecksRow* m_devicesRow = nullptr;
    QLabel* m_latestLabel = nullptr;
    QPushButton* m_copyLatestButton = nullptr;
    ReleaseNotesBox* m_notesBox = nullptr;
};
