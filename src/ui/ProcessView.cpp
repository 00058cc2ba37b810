#include "ui/ProcessView.h"

#include "ui/DesktopNotifier.h"
#include "ui/Theme.h"
#include "ui/widgets/FlatButton.h"
#include "ui/widgets/Spinner.h"
#include "ui/widgets/WarningAnimation.h"

#include <QClipboard>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QVBoxLayout>
#include <QWindow>

namespace {
const QColor textColor(0xf2, 0xf3, 0xf8);
const QColor detailColor(0xb8, 0xbd, 0xd0);
constexpr int qrSide = 150;

QLabel* makeLabel(QWidget* parent, const QString& name, int pixelSize, QFont::Weight weight,
                  const QColor& color) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    QFont f = label->font();
    f.setPixelSize(pixelSize);
    f.setWeight(weight);
    label->setFont(f);
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, color);
    label->setPalette(p);
    return label;
}
} // namespace

ProcessView::ProcessView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("processView"));
    setAttribute(Qt::WA_TranslucentBackground);

    m_titleLabel = makeLabel(this, QStringLiteral("titleLabel"), 20, QFont::DemiBold, textColor);
    m_lineView = new QFrame(this);
    m_lineView->setObjectName(QStringLiteral("lineView"));
    m_lineView->setFixedHeight(1);
    m_lineView->setAutoFillBackground(true);
    QPalette linePalette = m_lineView->palette();
    linePalette.setColor(QPalette::Window, QColor(255, 255, 255, 40));
    m_lineView->setPalette(linePalette);

    m_detailLabel = makeLabel(this, QStringLiteral("detailLabel"), 15, QFont::Normal, detailColor);
    m_detailLabel->setWordWrap(true);
    m_detailLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_detailLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_percentageLabel = makeLabel(this, QStringLiteral("percentageLabel"), 13, QFont::Medium, detailColor);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("processLoadingIndicator"));
    m_progress->setRange(0, 100);
    m_progress->setTextVisible(false);
    m_progress->setFixedHeight(6);
    m_progress->setStyleSheet(
        QStringLiteral("QProgressBar { background: rgba(255,255,255,30); border: none; "
                       "border-radius: 3px; } QProgressBar::chunk { background: #8d7fd0; "
                       "border-radius: 3px; }"));

    m_spinner = new Spinner(this);
    m_spinner->setObjectName(QStringLiteral("loadingIndicator"));
    m_spinner->setFixedSize(40, 40);

    m_imageView = new QLabel(this);
    m_imageView->setObjectName(QStringLiteral("imageView"));
    m_imageView->setFixedSize(qrSide, qrSide);
    m_imageView->setAlignment(Qt::AlignCenter);

    m_leftButton = new FlatButton(QStringLiteral("Copy to Clipboard"), this);
    m_leftButton->setObjectName(QStringLiteral("leftButton"));
    m_leftButton->setFillColor(Theme::jobAccent);
    m_leftButton->setTextColor(Qt::white);
    m_rightButton = new FlatButton(QStringLiteral("Go to home"), this);
    m_rightButton->setObjectName(QStringLiteral("rightButton"));
    m_rightButton->setFillColor(QColor(255, 255, 255, 36));
    m_rightButton->setTextColor(textColor);
    m_cancelButton = new FlatButton(QStringLiteral("Cancel"), this);
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    m_cancelButton->setFillColor(QColor(255, 255, 255, 36));
    m_cancelButton->setTextColor(textColor);
    connect(m_leftButton, &QPushButton::clicked, this, &ProcessView::leftClicked);
    connect(m_rightButton, &QPushButton::clicked, this, &ProcessView::rightClicked);
    connect(m_cancelButton, &QPushButton::clicked, this, &ProcessView::cancelClicked);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 24, 28, 22);
    layout->setSpacing(12);
    layout->addWidget(m_titleLabel);
    layout->addWidget(m_lineView);

    // Detail, progress and spinner on the left; the QR code on the right, over both rows.
    auto* middle = new QGridLayout;
    middle->setHorizontalSpacing(20);
    middle->setVerticalSpacing(12);
    m_detailLabel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    middle->addWidget(m_detailLabel, 0, 0);
    auto* progressRow = new QHBoxLayout;
    progressRow->setSpacing(10);
    progressRow->addWidget(m_progress, 1);
    progressRow->addWidget(m_percentageLabel);
    middle->addLayout(progressRow, 1, 0);
    middle->addWidget(m_spinner, 2, 0, Qt::AlignLeft);
    middle->addWidget(m_imageView, 0, 1, 4, 1, Qt::AlignTop);
    middle->setRowStretch(3, 1);
    middle->setColumnStretch(0, 1);
    layout->addLayout(middle, 1);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    buttons->addWidget(m_leftButton);
    buttons->addStretch();
    buttons->addWidget(m_cancelButton);
    buttons->addWidget(m_rightButton);
    layout->addLayout(buttons);

    // Until the job's first step: nothing but the spinner's place and Cancel.
    m_progress->hide();
    m_percentageLabel->hide();
    m_spinner->hide();
    m_leftButton->hide();
    m_rightButton->hide();
    m_imageView->hide();
    resize(550, 350);
}

void ProcessView::setStatus(const QString& title, const QString& detail, ProcessState state) {
    m_state = state;
    m_titleLabel->setText(title);
    m_detailLabel->setText(detail);

    const bool working = state == ProcessState::preparing || state == ProcessState::processing ||
                         state == ProcessState::hosting;
    const bool transferring = state == ProcessState::transferring;
    m_progress->setVisible(transferring);
    m_percentageLabel->setVisible(transferring);
    m_spinner->setVisible(working);
    if (working)
        m_spinner->startAnimating();
    else
        m_spinner->stopAnimating();
    m_leftButton->setVisible(state == ProcessState::completed);
    m_rightButton->setVisible(state == ProcessState::completed || state == ProcessState::failed);
    m_cancelButton->setVisible(working || transferring);
    m_imageView->setVisible(state == ProcessState::completed);

    if (state == ProcessState::cancelled)
        showWarning();
    else
        removeWarning();
}

void ProcessView::setProgress(const QString& percentageText, double value) {
    m_percentageLabel->setText(percentageText);
    m_progress->setValue(qBound(0, qRound(value), 100));
}

void ProcessView::setResultImage(const QImage& image) {
    if (image.isNull()) {
        m_imageView->clear();
        return;
    }
    const qreal ratio = devicePixelRatioF();
    QPixmap pixmap = QPixmap::fromImage(
        image.scaled(QSize(qrSide, qrSide) * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    pixmap.setDevicePixelRatio(ratio);
    m_imageView->setPixmap(pixmap);
}

void ProcessView::setSpinnerColor(const QColor& color) {
    m_spinner->setColor(color);
}

void ProcessView::postNotification(const QString& title, const QString& body) {
    DesktopNotifier::post(title, body);
}

void ProcessView::copyToClipboard(const QString& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
}

void ProcessView::showWarning() {
    if (!m_simpleLoaderView) {
        m_simpleLoaderView = new WarningAnimation(this);
        m_simpleLoaderView->setObjectName(QStringLiteral("simpleLoaderView"));
    }
    m_simpleLoaderView->setGeometry(
        QRect(QPoint(), QSize(100, 100)).translated(rect().center() - QPoint(50, 50)));
    m_simpleLoaderView->show();
    m_simpleLoaderView->raise();
    m_simpleLoaderView->play();
}

void ProcessView::removeWarning() {
    if (!m_simpleLoaderView)
        return;
    m_simpleLoaderView->stop();
    m_simpleLoaderView->hide();
    m_simpleLoaderView->deleteLater();
    m_simpleLoaderView = nullptr;
}

void ProcessView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Theme::sheetBackground);
    p.drawRoundedRect(QRectF(rect()), 6, 6);
}

void ProcessView::resizeEvent(QResizeEvent*) {
    if (m_simpleLoaderView)
        m_simpleLoaderView->move(rect().center() - QPoint(50, 50));
}

void ProcessView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    // The whole panel moves its window; the window manager does it where it can.
    QWindow* handle = window()->windowHandle();
    if (handle && window() != this && handle->startSystemMove())
        return;
    m_dragOffset = event->globalPosition().toPoint() - window()->frameGeometry().topLeft();
}

void ProcessView::mouseMoveEvent(QMouseEvent* event) {
    if ((event->buttons() & Qt::LeftButton) && !m_dragOffset.isNull())
        window()->move(event->globalPosition().toPoint() - m_dragOffset);
}
