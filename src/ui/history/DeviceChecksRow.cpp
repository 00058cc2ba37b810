#include "ui/history/DeviceChecksRow.h"

#include "records/ZappWire.h"
#include "ui/widgets/FlatButton.h"

#include <QClipboard>
#include <QHBoxLayout>
#include <QLabel>

#include <algorithm>

bool DeviceChecksRow::appliesTo(const Zapp& app) {
    const bool provisioned =
        app.profileKind == QLatin1String("development") || app.profileKind == QLatin1String("ad-hoc");
    return provisioned && !ZappWire::isAndroid(app.appid) && app.provisionedDevices.toInt() > 0;
}

DeviceChecksRow::DeviceChecksRow(const QString& appId, const BackendApi& backend,
                                 std::function<QClipboard*()> clipboard, QWidget* parent)
    : QWidget(parent), m_clipboard(std::move(clipboard)) {
    m_label = new QLabel;
    QFont font;
    font.setPointSizeF(13);
    font.setWeight(QFont::Medium);
    m_label->setFont(font);
    auto* button = new FlatButton(QStringLiteral("Copy device list"));
    button->setKind(FlatButton::Kind::Secondary);
    button->setToolTip(QStringLiteral("The devices this build does not include, as Apple's developer site "
                                      "takes them for a multiple-device upload"));
    button->setEnabled(false);
    m_copyButton = button;
    connect(m_copyButton, &QPushButton::clicked, this, &DeviceChecksRow::copyDeviceList);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_label);
    layout->addWidget(m_copyButton);
    layout->addStretch();

    backend.fetchDevices(
        appId,
        [this](const QList<DeviceCheck>& checks) {
            m_checks = checks;
            m_label->setText(QStringLiteral("Devices: ") + deviceSummary(checks));
            m_copyButton->setEnabled(
                std::any_of(checks.begin(), checks.end(), [](const DeviceCheck& c) { return !c.included; }));
            emit checksLoaded();
        },
        this);
}

QString DeviceChecksRow::text() const {
    return m_label->text();
}

void DeviceChecksRow::copyDeviceList() {
    QClipboard* clipboard = m_clipboard();
    clipboard->clear();
    clipboard->setText(QString::fromUtf8(appleDeviceList(m_checks)));
}
