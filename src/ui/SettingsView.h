#pragma once

#include "records/ZUser.h"

#include <QWidget>

class FlatButton;
class QLabel;

// The signed-in account: picture, name, e-mail, the storage it publishes to, and "Logout".
class SettingsView : public QWidget {
    Q_OBJECT
public:
    explicit SettingsView(QWidget* parent = nullptr);

    // Fills the pane from the provider (when the pane is shown).
    void refresh();

    // Shows a profile: the labels at once, the picture once it arrives.
    void showUser(const ZUser& user);
    // The provider's display name and image resource name ("dropbox", "drive", "Zoho", "server").
    void showProvider(const QString& name, const QString& image);

    QLabel* avatarImage() const { return m_avatarImage; }
    QLabel* nameLabel() const { return m_nameLabel; }
    QLabel* mailLabel() const { return m_mailLabel; }
    QLabel* vantryLabel() const { return m_vantryLabel; }
    QLabel* hostImage() const { return m_hostImage; }
    FlatButton* logoutButton() const { return m_logoutButton; }
    // Whether a picture arrived (otherwise the initials stand in).
    bool hasAvatar() const { return m_hasAvatar; }

signals:
    void logout();
    void avatarLoaded();

private:
    void setAvatar(const QImage& image);
    void showInitials(const QString& name);

    QLabel* m_avatarImage = nullptr;
    QLabel* m_nameLabel = nullptr;
    QLabel* m_mailLabel = nullptr;
    QLabel* m_vantryLabel = nullptr;
    QLabel* m_hostImage = nullptr;
    QLabel* m_hostName = nullptr;
    FlatButton* m_logoutButton = nullptr;
    bool m_hasAvatar = false;
};
