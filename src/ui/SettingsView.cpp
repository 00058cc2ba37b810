#include "ui/SettingsView.h"

#include "ui/AvatarLoader.h"
#include "ui/UserProfile.h"
#include "ui/widgets/FlatButton.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace {
constexpr int avatarSize = 96;

QPixmap circular(const QImage& image, int size) {
    QPixmap out(size, size);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath clip;
    clip.addEllipse(0, 0, size, size);
    p.setClipPath(clip);
    const QImage scaled = image.scaled(size, size, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    p.drawImage((size - scaled.width()) / 2, (size - scaled.height()) / 2, scaled);
    return out;
}
} // namespace

SettingsView::SettingsView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("settingsView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(48, 40, 48, 40);
    layout->setSpacing(10);
    layout->addStretch();

    m_avatarImage = new QLabel(this);
    m_avatarImage->setObjectName(QStringLiteral("avatarImage"));
    m_avatarImage->setFixedSize(avatarSize, avatarSize);
    layout->addWidget(m_avatarImage, 0, Qt::AlignHCenter);

    m_nameLabel = new QLabel(this);
    m_nameLabel->setObjectName(QStringLiteral("nameLabel"));
    QFont nameFont = m_nameLabel->font();
    nameFont.setPixelSize(22);
    nameFont.setWeight(QFont::DemiBold);
    m_nameLabel->setFont(nameFont);
    m_nameLabel->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_nameLabel);

    m_mailLabel = new QLabel(this);
    m_mailLabel->setObjectName(QStringLiteral("mailLabel"));
    m_mailLabel->setAlignment(Qt::AlignCenter);
    m_mailLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_mailLabel->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(m_mailLabel);
    layout->addSpacing(18);

    auto* host = new QHBoxLayout;
    host->addStretch();
    m_vantryLabel = new QLabel(this);
    m_vantryLabel->setObjectName(QStringLiteral("vantryLabel"));
    host->addWidget(m_vantryLabel);
    m_hostImage = new QLabel(this);
    m_hostImage->setObjectName(QStringLiteral("hostImage"));
    m_hostImage->setFixedSize(28, 28);
    host->addWidget(m_hostImage);
    m_hostName = new QLabel(this);
    m_hostName->setObjectName(QStringLiteral("hostName"));
    host->addWidget(m_hostName);
    host->addStretch();
    layout->addLayout(host);
    layout->addSpacing(18);

    m_logoutButton = new FlatButton(QStringLiteral("Logout"), this);
    m_logoutButton->setObjectName(QStringLiteral("logoutButton"));
    m_logoutButton->setMinimumWidth(140);
    layout->addWidget(m_logoutButton, 0, Qt::AlignHCenter);
    layout->addStretch();
    connect(m_logoutButton, &QPushButton::clicked, this, &SettingsView::logout);
    showInitials(QString());
}

void SettingsView::refresh() {
    auto onUser = [this](const ZUser& user) {
        currentUser() = user;
        showUser(user);
    };
    UserProfile::fetch(this, onUser);
}

void SettingsView::showUser(const ZUser& user) {
    m_nameLabel->setText(user.name);
    m_mailLabel->setText(user.email);
    m_vantryLabel->setText(QStringLiteral("Vantry via"));
    if (!m_hasAvatar)
        showInitials(user.name);
    const QUrl avatar(user.avatar);
    if (avatar.isValid() && !user.avatar.isEmpty())
        loadAvatar(avatar, this, [this](const QImage& image) { setAvatar(image); });
}

void SettingsView::showProvider(const QString& name, const QString& image) {
    m_vantryLabel->setText(QStringLiteral("Vantry via"));
    m_hostImage->setPixmap(QIcon(QStringLiteral(":/images/%1.svg").arg(image)).pixmap(28, 28));
    m_hostImage->setToolTip(name);
    m_hostName->setText(name);
}

void SettingsView::setAvatar(const QImage& image) {
    m_avatarImage->setPixmap(circular(image, avatarSize));
    m_hasAvatar = true;
    emit avatarLoaded();
}

void SettingsView::showInitials(const QString& name) {
    QPixmap out(avatarSize, avatarSize);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(palette().color(QPalette::Highlight));
    p.drawEllipse(0, 0, avatarSize, avatarSize);
    QString initials;
    for (const QString& part : name.split(QLatin1Char(' '), Qt::SkipEmptyParts).mid(0, 2))
        initials += part.at(0).toUpper();
    QFont f = font();
    f.setPixelSize(36);
    f.setWeight(QFont::DemiBold);
    p.setFont(f);
    p.setPen(palette().color(QPalette::HighlightedText));
    p.drawText(QRect(0, 0, avatarSize, avatarSize), Qt::AlignCenter, initials);
    m_avatarImage->setPixmap(out);
}
