#include "ui/widgets/AboutWindow.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>

AboutWindow::AboutWindow(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Vantry"));
    setObjectName(QStringLiteral("aboutWindow"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(36, 28, 36, 28);
    layout->setSpacing(8);

    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/images/vantry.svg")).pixmap(96, 96));
    icon->setAlignment(Qt::AlignCenter);
    layout->addWidget(icon);

    auto* name = new QLabel(QStringLiteral("Vantry"), this);
    name->setObjectName(QStringLiteral("nameLabel"));
    QFont nameFont = name->font();
    nameFont.setPixelSize(24);
    nameFont.setWeight(QFont::DemiBold);
    name->setFont(nameFont);
    name->setAlignment(Qt::AlignCenter);
    layout->addWidget(name);

    auto* version =
        new QLabel(QStringLiteral("Version %1").arg(QCoreApplication::applicationVersion()), this);
    version->setObjectName(QStringLiteral("versionLabel"));
    version->setAlignment(Qt::AlignCenter);
    version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(version);

    auto* line = new QLabel(QStringLiteral("Install links for your .ipa and .apk builds."), this);
    line->setAlignment(Qt::AlignCenter);
    line->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(line);
    setFixedSize(sizeHint().expandedTo(QSize(320, 0)));
}
