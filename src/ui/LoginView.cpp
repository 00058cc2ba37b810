#include "ui/LoginView.h"

#include "ui/Theme.h"
#include "ui/widgets/FlatButton.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <cmath>

namespace {

// A package travelling to a phone along a dotted path, drawn from the running animation's phase.
class Illustration : public QWidget {
public:
    Illustration(const QVariantAnimation& animation, QWidget* parent)
        : QWidget(parent), m_animation(animation) {
        setMinimumSize(220, 220);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal t = m_animation.currentValue().toReal();
        const QColor accent = palette().color(QPalette::Highlight);
        const QColor ink = palette().color(QPalette::WindowText);
        const qreal s = qMin(width(), height()) / 220.0;
        p.translate((width() - 220 * s) / 2, (height() - 220 * s) / 2);
        p.scale(s, s);

        // The package.
        p.setPen(QPen(ink, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        QPainterPath box;
        box.moveTo(50, 60);
        box.lineTo(80, 45);
        box.lineTo(110, 60);
        box.lineTo(110, 95);
        box.lineTo(80, 110);
        box.lineTo(50, 95);
        box.closeSubpath();
        box.moveTo(50, 60);
        box.lineTo(80, 75);
        box.lineTo(110, 60);
        box.moveTo(80, 75);
        box.lineTo(80, 110);
        p.drawPath(box);

        // The phone.
        p.drawRoundedRect(QRectF(135, 105, 50, 90), 9, 9);
        p.drawLine(QPointF(153, 185), QPointF(167, 185));

        // The dotted road between them, and a dot running along it.
        QPainterPath road;
        road.moveTo(95, 118);
        road.cubicTo(100, 170, 125, 150, 150, 140);
        QPen dotted(accent, 3, Qt::DotLine, Qt::RoundCap);
        p.setPen(dotted);
        p.drawPath(road);
        p.setPen(Qt::NoPen);
        p.setBrush(accent);
        p.drawEllipse(road.pointAtPercent(t), 6, 6);

        // The link on the phone's screen pulses once the dot arrives.
        const qreal glow = t > 0.7 ? (t - 0.7) / 0.3 : 0;
        QColor link = accent;
        link.setAlphaF(float(0.35 + 0.65 * glow));
        p.setBrush(link);
        p.drawRoundedRect(QRectF(145, 130, 30, 30), 6, 6);
        p.setPen(QPen(palette().color(QPalette::Base), 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(153, 145), QPointF(167, 145));
    }

private:
    const QVariantAnimation& m_animation;
};

QLabel* label(const QString& text, int pixelSize, QFont::Weight weight, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    QFont f = l->font();
    f.setPixelSize(pixelSize);
    f.setWeight(weight);
    l->setFont(f);
    return l;
}

} // namespace

LoginView::LoginView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("loginView"));
    setAutoFillBackground(true);
    m_animation.setStartValue(0.0);
    m_animation.setEndValue(1.0);
    m_animation.setDuration(2400);
    m_animation.setLoopCount(-1);
    m_animation.setEasingCurve(QEasingCurve::InOutSine);

    auto* text = new QVBoxLayout;
    text->setSpacing(10);
    auto* title = label(QStringLiteral("Vantry"), 40, QFont::Bold, this);
    title->setObjectName(QStringLiteral("titleLabel"));
    text->addWidget(title);
    auto* subtitle = label(QStringLiteral("Login with a provider to proceed, We use it to store your ipa/apk "
                                          "securely within your space."),
                           15, QFont::Normal, this);
    subtitle->setObjectName(QStringLiteral("subtitleLabel"));
    subtitle->setWordWrap(true);
    subtitle->setMaximumWidth(380);
    text->addWidget(subtitle);
    text->addSpacing(6);
    for (const QString& point :
         {QStringLiteral("✔️ Drop your .ipa"), QStringLiteral("✔️ Get a link")}) {
        auto* l = label(point, 15, QFont::Medium, this);
        l->setObjectName(QStringLiteral("pointLabel"));
        text->addWidget(l);
    }
    text->addSpacing(16);

    auto* buttons = new QGridLayout;
    buttons->setHorizontalSpacing(10);
    buttons->setVerticalSpacing(10);
    buttons->addWidget(
        addProviderButton(Provider::Dropbox, QStringLiteral("DropBox"), QStringLiteral("dropbox")), 0, 0);
    buttons->addWidget(
        addProviderButton(Provider::Zoho, QStringLiteral("Zoho Workdrive"), QStringLiteral("Zoho")), 0, 1);
    buttons->addWidget(
        addProviderButton(Provider::Drive, QStringLiteral("Google Drive"), QStringLiteral("drive")), 1, 0);
    buttons->addWidget(
        addProviderButton(Provider::SelfHosted, QStringLiteral("Vantry server"), QStringLiteral("server")), 1,
        1);
    text->addLayout(buttons);

    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("messageLabel"));
    m_message->setWordWrap(true);
    m_message->setMaximumWidth(380);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_message->hide();
    text->addSpacing(4);
    text->addWidget(m_message);
    text->addStretch();

    m_illustration = new Illustration(m_animation, this);
    connect(&m_animation, &QVariantAnimation::valueChanged, m_illustration, qOverload<>(&QWidget::update));

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(48, 48, 40, 32);
    row->setSpacing(24);
    auto* column = new QVBoxLayout;
    column->addStretch();
    column->addLayout(text);
    column->addStretch();
    row->addLayout(column, 3);
    row->addWidget(m_illustration, 2);
    m_animation.start();
}

FlatButton* LoginView::addProviderButton(Provider provider, const QString& title, const QString& image) {
    auto* b = new FlatButton(title, this);
    b->setObjectName(title);
    b->setIcon(QIcon(QStringLiteral(":/images/%1.svg").arg(image)));
    b->setKind(FlatButton::Kind::Secondary);
    b->setMinimumWidth(170);
    m_buttons.insert(int(provider), b);
    connect(b, &QPushButton::clicked, this, [this, provider] {
        setShouldStopAnimation(true);
        emit providerChosen(provider);
    });
    return b;
}

FlatButton* LoginView::button(Provider provider) const {
    return m_buttons.value(int(provider));
}

void LoginView::setMessage(const QString& text) {
    m_message->setText(text);
    m_message->setVisible(!text.isEmpty());
}

QString LoginView::message() const {
    return m_message->isVisible() ? m_message->text() : QString();
}

void LoginView::setBusy(bool busy) {
    for (FlatButton* b : std::as_const(m_buttons))
        b->setEnabled(!busy);
}

void LoginView::setShouldStopAnimation(bool stop) {
    m_shouldStopAnimation = stop;
    if (stop)
        m_animation.pause();
    else if (m_animation.state() == QAbstractAnimation::Paused)
        m_animation.resume();
    else
        m_animation.start();
}
