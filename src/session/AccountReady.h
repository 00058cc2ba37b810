#pragma once

#include "records/ZUser.h"
#include "session/SignInState.h"
#include "storage/ClientManager.h"

#include <QString>

#include <functional>

class QObject;

// An account made ready for hosting: read from its storage provider (getUserData; WorkDrive
// delivers it once the user's private space is known), registered with the backend
// ("addnewuser" adds an unknown user, updates a known one and keeps the secret its answer may
// carry), then currentUser(). Both the sign-in and vantry-cli publish go this way.
//
// Nothing is delivered once context is destroyed, and destroying it stops the provider's
// request.
enum class AccountStep { reading, registering };

struct AccountCallbacks {
    std::function<void(const ZUser& user)> onRead; // optional: the registration starts now
    std::function<void(const ZUser& user)> onReady;
    // The step that failed and one sentence (a refused registration names the backend).
    std::function<void(AccountStep step, const QString& reason)> onFailure;
};

void makeAccountReady(StorageProvider provider, QObject* context, AccountCallbacks callbacks);
// For an account read already (a self-hosted sign-in reads it itself).
void registerAccount(const ZUser& user, QObject* context, AccountCallbacks callbacks);
// The reading alone.
void readAccount(StorageProvider provider, QObject* context, std::function<void(const ZUser& user)> onUser,
                 std::function<void(const QString& reason)> onFailure);

// The storage of a signed-in provider (none: the selected one).
StorageProvider storageProviderOf(SignedInProvider provider);
