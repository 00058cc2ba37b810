#include "ui/history/AppDetailView.h"

#include "core/Log.h"
#include "history/AppIcon.h"
#include "history/HistoryModel.h"
#include "qrcode/QRCodeDocument.h"
#include "qrcode/QRCodeFillStyle.h"
#include "ui/history/DeviceChecksRow.h"
#include "ui/history/InstallChart.h"
#include "ui/history/InstallDetailButton.h"
#include "ui/history/InstallTimeline.h"
#include "ui/widgets/FlatButton.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGraphicsDropShadowEffect>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextDocumentFragment>
#include <QUrlQuery>
#include <QVBoxLayout>

namespace {

constexpr int LeftMargin = 75;
constexpr int QrShown = 170;
constexpr int IconShown = 64;

QFont pairFont() {
    QFont f;
    f.setPointSizeF(13);
    f.setWeight(QFont::Medium);
    return f;
}

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128;
}

// The title and " : " in dark grey, the value in black; on a dark palette its own muted and
// plain text colours. Kept on the label so that a change of palette can paint it again.
void setPair(QLabel* label, const QString& title, const QString& value) {
    label->setProperty("pairTitle", title);
    label->setProperty("pairValue", value);
    const QPalette& p = label->palette();
    const QString muted = isDark(p) ? p.color(QPalette::PlaceholderText).name() : QStringLiteral("#555555");
    const QString ink = isDark(p) ? p.color(QPalette::WindowText).name() : QStringLiteral("#000000");
    label->setText(QStringLiteral("<span style=\"color:%1\">%2 : </span><span style=\"color:%3\">%4</span>")
                       .arg(muted, title.toHtmlEscaped(), ink, value.toHtmlEscaped()));
}

QLabel* pairLabel(const QString& title, const QString& value) {
    auto* label = new QLabel;
    label->setTextFormat(Qt::RichText);
    label->setFont(pairFont());
    setPair(label, title, value);
    return label;
}

QPixmap roundedIcon(const QImage& image, int size, qreal dpr) {
    QPixmap pixmap(QSize(size, size) * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(0, 0, size, size), 10, 10);
    p.setClipPath(clip);
    p.drawImage(QRectF(0, 0, size, size), image);
    return pixmap;
}

QString safeFileName(const QString& name) {
    QString out = name.trimmed();
    out.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._ -]")), QStringLiteral("_"));
    return out.isEmpty() ? QStringLiteral("qr") : out + QStringLiteral(" QR");
}

} // namespace

DesktopSeams DesktopSeams::system() {
    return {[](const QUrl& url) { QDesktopServices::openUrl(url); },
            [](QWidget* parent, const QString& suggested, const QString& filter) {
                return QFileDialog::getSaveFileName(parent, QStringLiteral("Save QR Code"), suggested,
                                                    filter);
            },
            [] { return QGuiApplication::clipboard(); }, ReleaseNotesBox::dialog()};
}

AppDetailView::AppDetailView(const Zapp& app, QWidget* parent)
    : AppDetailView(app, Zelko::api(), DesktopSeams::system(), parent) {}

AppDetailView::AppDetailView(const Zapp& app, BackendApi backend, DesktopSeams seams, QWidget* parent)
    : QWidget(parent), m_app(app), m_backend(std::move(backend)), m_seams(std::move(seams)) {
    m_link = history::publicLink(m_backend.baseUrl(), m_app.appid);

    m_titleLabel = new QLabel(m_app.appname);
    m_titleLabel->setObjectName(QStringLiteral("title"));
    QFont titleFont;
    titleFont.setPointSizeF(20);
    m_titleLabel->setFont(titleFont);
    m_versionLabel = pairLabel(QStringLiteral("Version"), m_app.appversion);
    m_linkLabel = new QLabel(m_link);
    QFont linkFont;
    linkFont.setPointSizeF(15);
    linkFont.setWeight(QFont::Medium);
    m_linkLabel->setFont(linkFont);
    m_linkLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_linkLabel->setForegroundRole(QPalette::Link);
    m_dateLabel = pairLabel(QStringLiteral("Date"), history::displayDate(m_app.appdate));

    m_qrImage = QRCodeDocument::forLink(m_link).imageWithDimension(QrDimension, 1).value_or(QImage());
    m_qrView = new QLabel;
    m_qrView->setFixedSize(QrShown, QrShown);
    m_qrView->setScaledContents(true);
    if (!m_qrImage.isNull())
        m_qrView->setPixmap(QPixmap::fromImage(m_qrImage));

    auto* iconBase = new QFrame;
    iconBase->setFixedSize(IconShown + 12, IconShown + 12);
    iconBase->setStyleSheet(QStringLiteral("QFrame { background: white; border-radius: 14px; }"));
    auto* shadow = new QGraphicsDropShadowEffect(iconBase);
    shadow->setBlurRadius(16);
    shadow->setOffset(0, 2);
    shadow->setColor(QColor(0, 0, 0, 60));
    iconBase->setGraphicsEffect(shadow);
    m_iconView = new QLabel(iconBase);
    m_iconView->setGeometry(6, 6, IconShown, IconShown);

    // The window's own buttons, as on the create pane and the job sheet.
    m_copyButton = new FlatButton(QStringLiteral("Copy to Clipboard"));
    auto* share = new FlatButton(QStringLiteral("Share"));
    share->setKind(FlatButton::Kind::Secondary);
    m_shareButton = share;
    m_shareMenu = new QMenu(this);
    m_shareMenu->addAction(QStringLiteral("Copy Link"), this, &AppDetailView::copyTo);
    m_shareMenu->addAction(QStringLiteral("Open in Browser"), this, &AppDetailView::openInBrowser);
    m_shareMenu->addAction(QStringLiteral("Send by E-mail"), this, &AppDetailView::sendByMail);
    m_shareMenu->addSeparator();
    for (const char* format : {"PNG", "SVG", "PDF"}) {
        const QString f = QLatin1String(format);
        m_shareMenu->addAction(QStringLiteral("Save QR Code as %1\u2026").arg(f), this,
                               [this, f] { saveQRCodeAs(f.toLower()); });
    }
    m_shareButton->setMenu(m_shareMenu);
    connect(m_copyButton, &QPushButton::clicked, this, &AppDetailView::copyTo);

    m_installsLabel = new QLabel;
    m_installsLabel->setTextFormat(Qt::RichText);
    m_installsLabel->setFont(pairFont());
    m_infoButton = new InstallDetailButton(this);
    m_infoButton->setTextSource([this] { return m_installedStr; });
    m_chart = new InstallChart;
    m_recentLabel = new QLabel;
    m_recentLabel->setTextFormat(Qt::RichText);
    m_recentLabel->setFont(pairFont());
    m_timeline = new InstallTimeline;
    m_timeline->setToolTip(QStringLiteral("Installs per day over the last 30 days"));
    m_statusLabel = new QLabel;
    m_statusLabel->setForegroundRole(QPalette::PlaceholderText);
    m_notesBox = new ReleaseNotesBox(m_app.appid, m_app.appdescription, m_backend, m_seams.editNotes);
    connect(m_notesBox, &ReleaseNotesBox::saved, this, [this](const QString& notes) {
        m_app.appdescription = notes;
        m_statusLabel->setText(QStringLiteral("Notes saved."));
    });
    connect(m_notesBox, &ReleaseNotesBox::failed, m_statusLabel, &QLabel::setText);

    // Layout: icon and the three text lines, the link, then the code beside the install figures.
    auto* heading = new QVBoxLayout;
    heading->setSpacing(4);
    heading->addWidget(m_titleLabel);
    heading->addWidget(m_versionLabel);
    heading->addWidget(m_dateLabel);
    auto* top = new QHBoxLayout;
    top->setSpacing(18);
    top->addWidget(iconBase, 0, Qt::AlignTop);
    top->addLayout(heading, 1);

    auto* installsRow = new QHBoxLayout;
    installsRow->addWidget(m_installsLabel);
    installsRow->addWidget(m_infoButton);
    installsRow->addStretch();
    auto* figures = new QVBoxLayout;
    figures->addLayout(installsRow);
    figures->addWidget(m_chart);
    figures->addSpacing(6);
    figures->addWidget(m_recentLabel);
    figures->addWidget(m_timeline);
    if (DeviceChecksRow::appliesTo(m_app)) {
        m_devicesRow = new DeviceChecksRow(m_app.appid, m_backend, m_seams.clipboard);
        figures->addSpacing(6);
        figures->addWidget(m_devicesRow);
    }
    figures->addStretch();
    auto* middle = new QHBoxLayout;
    middle->setSpacing(24);
    middle->addWidget(m_qrView, 0, Qt::AlignTop);
    middle->addLayout(figures, 1);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    buttons->addWidget(m_copyButton);
    buttons->addWidget(m_shareButton);
    buttons->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(LeftMargin, 28, 28, 20);
    layout->setSpacing(14);
    layout->addLayout(top);
    layout->addWidget(m_linkLabel);
    if (!m_app.latestUrl.isEmpty()) {
        // The link that always offers the newest build, for testers to keep.
        m_latestLabel = new QLabel(m_app.latestUrl);
        m_latestLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
        m_latestLabel->setForegroundRole(QPalette::Link);
        m_latestLabel->setToolTip(QStringLiteral("Always the newest build of this app"));
        auto* copyLatest = new FlatButton(QStringLiteral("Copy"));
        copyLatest->setKind(FlatButton::Kind::Secondary);
        m_copyLatestButton = copyLatest;
        connect(m_copyLatestButton, &QPushButton::clicked, this, &AppDetailView::copyLatest);
        auto* latestRow = new QHBoxLayout;
        latestRow->addWidget(new QLabel(QStringLiteral("Latest build:")));
        latestRow->addWidget(m_latestLabel, 1);
        latestRow->addWidget(m_copyLatestButton);
        layout->addLayout(latestRow);
    }
    layout->addLayout(middle);
    layout->addLayout(buttons);
    layout->addWidget(m_notesBox);
    layout->addWidget(m_statusLabel);
    layout->addStretch();

    showIcon(AppIcon::placeholder());
    IconLoader::instance().load(m_app.appicon, this, [this](const QImage& image) {
        showIcon(image);
        emit iconLoaded();
    });
    loadInstalls();
}

void AppDetailView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::PaletteChange)
        return;
    for (QLabel* label : {m_versionLabel, m_dateLabel, m_installsLabel, m_recentLabel}) {
        if (label->property("pairTitle").isValid())
            setPair(label, label->property("pairTitle").toString(), label->property("pairValue").toString());
    }
}

QString AppDetailView::installsText() const {
    return QTextDocumentFragment::fromHtml(m_installsLabel->text()).toPlainText();
}

QString AppDetailView::recentText() const {
    return QTextDocumentFragment::fromHtml(m_recentLabel->text()).toPlainText();
}

void AppDetailView::showIcon(const QImage& image) {
    m_iconView->setPixmap(roundedIcon(image, IconShown, devicePixelRatioF()));
}

void AppDetailView::loadInstalls() {
    m_backend.fetchInstalls(
        m_app.appid,
        [this](const ZUserData& data) {
            if (!data.isSuccess) {
                logLine(QStringLiteral("not right!!"));
                return;
            }
            m_breakdown = InstallBreakdown::fromInstalls(data.response);
            m_installedStr = m_breakdown.text();
            setPair(m_installsLabel, QStringLiteral("No of installs"), QString::number(data.response.size()));
            m_infoButton->setVisible(!data.response.isEmpty());
            m_chart->setBreakdown(m_breakdown);
            const std::optional<QList<int>> days =
                InstallBreakdown::daily(data.response, QDateTime::currentDateTime());
            if (days) {
                int recent = 0;
                for (int n : *days)
                    recent += n;
                setPair(m_recentLabel, QStringLiteral("Last 30 days"), QString::number(recent));
                m_timeline->setDays(*days);
            }
            m_recentLabel->setVisible(days.has_value());
            m_timeline->setVisible(days && !data.response.isEmpty());
            emit installsLoaded();
        },
        this);
}

void AppDetailView::copyTo() {
    QClipboard* clipboard = m_seams.clipboard();
    clipboard->clear();
    clipboard->setText(m_link);
    m_statusLabel->setText(QStringLiteral("Link copied."));
}

void AppDetailView::copyLatest() {
    QClipboard* clipboard = m_seams.clipboard();
    clipboard->clear();
    clipboard->setText(m_app.latestUrl);
    m_statusLabel->setText(QStringLiteral("Latest link copied."));
}

QString AppDetailView::statusText() const {
    return m_statusLabel->text();
}

void AppDetailView::openInBrowser() {
    const QUrl url(m_link, QUrl::StrictMode);
    if (url.isValid())
        m_seams.openUrl(url);
}

QUrl AppDetailView::mailUrl() const {
    QUrl url(QStringLiteral("mailto:"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("subject"), m_app.appname);
    query.addQueryItem(QStringLiteral("body"), m_link);
    url.setQuery(query);
    return url;
}

void AppDetailView::sendByMail() {
    m_seams.openUrl(mailUrl());
}

bool AppDetailView::saveQRCode(const QString& path) const {
    const QRCodeDocument doc = QRCodeDocument::forLink(m_link);
    const QString ext = QFileInfo(path).suffix().toLower();
    std::optional<QByteArray> bytes;
    if (ext == QLatin1String("png")) {
        bytes = doc.pngData(QrDimension);
    } else if (ext == QLatin1String("pdf")) {
        bytes = doc.pdfDataWithDimension(QrDimension);
    } else if (ext == QLatin1String("svg")) {
        const auto* solid = dynamic_cast<const QRCodeFillStyleSolid*>(doc.design().style.onPixels.get());
        const auto* back = dynamic_cast<const QRCodeFillStyleSolid*>(doc.design().style.background.get());
        bytes = doc.svg(QrDimension, 1, solid ? solid->color() : QColor(Qt::black),
                        back ? std::optional(back->color()) : std::nullopt)
                    .toUtf8();
    }
    if (!bytes)
        return false;
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(*bytes) == bytes->size() && file.commit();
}

void AppDetailView::saveQRCodeAs(const QString& format) {
    const QString suggested = safeFileName(m_app.appname) + QLatin1Char('.') + format;
    const QString path =
        m_seams.saveFileName(this, suggested, QStringLiteral("%1 (*.%2)").arg(format.toUpper(), format));
    if (path.isEmpty())
        return;
    m_statusLabel->setText(saveQRCode(path)
                               ? QStringLiteral("QR code saved to %1.").arg(QFileInfo(path).fileName())
                               : QStringLiteral("Could not write %1.").arg(path));
}
