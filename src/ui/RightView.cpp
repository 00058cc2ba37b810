#include "ui/RightView.h"

#include "storage/ClientManager.h"
#include "ui/CreateView.h"
#include "ui/SettingsView.h"
#include "ui/widgets/PaneSwitcher.h"

#include <QVBoxLayout>

namespace {
struct ProviderLook {
    QString name;
    QString image;
};

ProviderLook providerLook() {
    switch (selectedProvider()) {
    case StorageProvider::Dropbox:
        return {QStringLiteral("Dropbox"), QStringLiteral("dropbox")};
    case StorageProvider::Drive:
        return {QStringLiteral("Google Drive"), QStringLiteral("drive")};
    case StorageProvider::SelfHosted:
        return {QStringLiteral("Vantry server"), QStringLiteral("server")};
    case StorageProvider::Zoho:
        break;
    }
    return {QStringLiteral("Zoho WorkDrive"), QStringLiteral("Zoho")};
}
} // namespace

RightView::RightView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("rightView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_switcher = new PaneSwitcher(this);
    layout->addWidget(m_switcher);
    showCreate();
}

QWidget* RightView::baseview() const {
    return m_switcher->pane();
}

CreateView* RightView::createView() const {
    return m_type == Type::Create ? static_cast<CreateView*>(m_switcher->pane()) : nullptr;
}

SettingsView* RightView::settingsView() const {
    return m_type == Type::Settings ? static_cast<SettingsView*>(m_switcher->pane()) : nullptr;
}

void RightView::showCreate() {
    auto* create = new CreateView;
    connect(create, &CreateView::openFile, this, &RightView::openFile);
    m_type = Type::Create;
    m_switcher->setPane(create);
    emit switched(m_type);
}

void RightView::showSettings() {
    auto* settings = new SettingsView;
    connect(settings, &SettingsView::logout, this, &RightView::logout);
    const ProviderLook look = providerLook();
    settings->showProvider(look.name, look.image);
    if (!currentUser().id.isEmpty())
        settings->showUser(currentUser());
    m_type = Type::Settings;
    m_switcher->setPane(settings);
    settings->refresh();
    emit switched(m_type);
}

void RightView::showDetail(QWidget* detail) {
    m_type = Type::Detail;
    m_switcher->setPane(detail);
    emit switched(m_type);
}

void RightView::browseFile() {
    if (m_type != Type::Create)
        showCreate();
    createView()->browseFile();
}
