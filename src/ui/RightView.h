#pragma once

#include "ui/PackageIntake.h"

#include <QWidget>

class CreateView;
class PaneSwitcher;
class SettingsView;

// The right-hand pane: the create pane, the settings pane or the details of one app. Every switch
// replaces the pane shown by a new one.
class RightView : public QWidget {
    Q_OBJECT
public:
    enum class Type { Create, Settings, Detail };

    explicit RightView(QWidget* parent = nullptr);

    Type type() const { return m_type; }
    QWidget* baseview() const;
    // The pane shown, when it is of that kind; nullptr otherwise.
    CreateView* createView() const;
    SettingsView* settingsView() const;

    void showCreate();
    void showSettings();
    // Takes ownership of the details widget of one app.
    void showDetail(QWidget* detail);

    // The open panel of the create pane (switching to it first).
    void browseFile();

signals:
    void openFile(const QString& path, PackageIntake::Kind kind);
    void logout();
    void switched(RightView::Type type);

private:
    PaneSwitcher* m_switcher = nullptr;
    Type m_type = Type::Create;
};
