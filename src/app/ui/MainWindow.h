#pragma once

#include <QMainWindow>

// The one window of the desktop application.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
};
