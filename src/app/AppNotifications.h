#pragma once

#include <QObject>

// Application-internal notifications, posted by one part and observed by others.
class AppNotifications : public QObject {
    Q_OBJECT
public:
    static AppNotifications& instance();

signals:
    // The history list should fetch the user's apps again ("reload").
    void reload();
};
