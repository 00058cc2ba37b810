#include "app/AppNotifications.h"

AppNotifications& AppNotifications::instance() {
    static AppNotifications notifications;
    return notifications;
}
