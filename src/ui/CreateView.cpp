#include "ui/CreateView.h"

#include "ui/FileDialog.h"
#include "ui/widgets/FlatButton.h"

#include <QDragEnterEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QVBoxLayout>

namespace {
const QColor refusedColor(0xe0, 0x4f, 0x5f);
}

DragView::DragView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("dragView"));
    setAcceptDrops(true);
}

void DragView::setFeedback(Feedback feedback) {
    if (m_feedback == feedback)
        return;
    m_feedback = feedback;
    update();
}

void DragView::dragEnterEvent(QDragEnterEvent* event) {
    if (!event->mimeData()->hasUrls()) {
        event->ignore();
        return;
    }
    m_verdict = PackageIntake::judge(event->mimeData()->urls());
    // A refused drag is still taken in, with no drop action, so that the view hears when it
    // leaves and can say why it would not take it.
    event->accept();
    if (m_verdict.kind) {
        event->setDropAction(Qt::CopyAction);
        setFeedback(Feedback::Accepting);
        emit hint(QStringLiteral("Drop to publish %1").arg(QFileInfo(m_verdict.path).fileName()), false);
    } else {
        event->setDropAction(Qt::IgnoreAction);
        setFeedback(Feedback::Refusing);
        emit hint(m_verdict.reason, true);
    }
}

void DragView::dragMoveEvent(QDragMoveEvent* event) {
    event->accept();
    event->setDropAction(m_verdict.kind ? Qt::CopyAction : Qt::IgnoreAction);
}

void DragView::dragLeaveEvent(QDragLeaveEvent* event) {
    setFeedback(Feedback::Idle);
    emit hint(QString(), false);
    QWidget::dragLeaveEvent(event);
}

void DragView::dropEvent(QDropEvent* event) {
    setFeedback(Feedback::Idle);
    // The file is judged again: what was dragged in may have changed on disk since.
    const PackageIntake::Verdict verdict = PackageIntake::judge(event->mimeData()->urls());
    if (!verdict.kind) {
        event->setDropAction(Qt::IgnoreAction);
        event->ignore();
        emit hint(verdict.reason, true);
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    emit hint(QString(), false);
    emit packageDropped(verdict.path, *verdict.kind);
}

void DragView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QColor edge = palette().color(QPalette::Mid);
    QColor fill = Qt::transparent;
    if (m_feedback == Feedback::Accepting) {
        edge = palette().color(QPalette::Highlight);
        fill = edge;
        fill.setAlphaF(0.12f);
    } else if (m_feedback == Feedback::Refusing) {
        edge = refusedColor;
        fill = edge;
        fill.setAlphaF(0.08f);
    }
    QPen pen(edge, 2, m_feedback == Feedback::Idle ? Qt::DashLine : Qt::SolidLine);
    pen.setDashPattern({6, 4});
    if (m_feedback != Feedback::Idle)
        pen.setStyle(Qt::SolidLine);
    p.setPen(pen);
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(rect()).adjusted(12, 12, -12, -12), 14, 14);
}

CreateView::CreateView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("createView"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    m_dragView = new DragView(this);
    outer->addWidget(m_dragView);

    auto* layout = new QVBoxLayout(m_dragView);
    layout->setContentsMargins(40, 40, 40, 40);
    layout->setSpacing(16);
    layout->addStretch();
    auto* image = new QLabel(m_dragView);
    image->setPixmap(QIcon(QStringLiteral(":/images/vantry.svg")).pixmap(72, 72));
    image->setAlignment(Qt::AlignCenter);
    layout->addWidget(image);

    m_infoLabel = new QLabel(QStringLiteral("To create a link,\njust drop your\nipa/apk here"), m_dragView);
    m_infoLabel->setObjectName(QStringLiteral("infoLabel"));
    m_infoLabel->setAlignment(Qt::AlignCenter);
    m_infoLabel->setTextInteractionFlags(Qt::NoTextInteraction);
    QFont infoFont = m_infoLabel->font();
    infoFont.setPixelSize(17);
    m_infoLabel->setFont(infoFont);
    layout->addWidget(m_infoLabel);

    m_openButton = new FlatButton(QStringLiteral("Choose file"), m_dragView);
    m_openButton->setObjectName(QStringLiteral("openButton"));
    layout->addWidget(m_openButton, 0, Qt::AlignHCenter);

    m_message = new QLabel(m_dragView);
    m_message->setObjectName(QStringLiteral("messageLabel"));
    m_message->setAlignment(Qt::AlignCenter);
    m_message->setWordWrap(true);
    m_message->hide();
    layout->addWidget(m_message);
    layout->addStretch();

    connect(m_openButton, &QPushButton::clicked, this, &CreateView::browseFile);
    connect(m_dragView, &DragView::hint, this, &CreateView::showHint);
    connect(m_dragView, &DragView::packageDropped, this, &CreateView::openFile);
}

QString CreateView::message() const {
    return m_message->isVisible() ? m_message->text() : QString();
}

void CreateView::showHint(const QString& text, bool refused) {
    m_message->setText(text);
    QPalette p = m_message->palette();
    p.setColor(QPalette::WindowText, refused ? refusedColor : palette().color(QPalette::Highlight));
    m_message->setPalette(p);
    m_message->setVisible(!text.isEmpty());
}

void CreateView::browseFile() {
    const std::optional<QString> chosen = FileDialog::choosePackage(window());
    if (!chosen)
        return;
    const PackageIntake::Verdict verdict = PackageIntake::judgePath(*chosen);
    if (!verdict.kind) {
        showHint(verdict.reason, true);
        return;
    }
    showHint(QString(), false);
    emit openFile(verdict.path, *verdict.kind);
}
