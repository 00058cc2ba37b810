#pragma once

#include <QDialog>

// "About Vantry": the application's icon, name and version.
class AboutWindow : public QDialog {
    Q_OBJECT
public:
    explicit AboutWindow(QWidget* parent = nullptr);
};
