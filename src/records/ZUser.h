#pragma once

#include <QString>

// The signed-in account as the storage provider describes it.
struct ZUser {
    QString name;
    QString email;
    QString id; // provider account id: the owner key and Authorization value towards the backend
    QString avatar;
};

// The process-wide signed-in user; empty until the main view stores the provider's profile.
// Read and written on the main thread only.
ZUser& currentUser();
