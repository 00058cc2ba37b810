#include "session/AccountReady.h"

#include "backend/Zelko.h"

#include <QPointer>

void readAccount(StorageProvider provider, QObject* context, std::function<void(const ZUser&)> onUser,
                 std::function<void(const QString&)> onFailure) {
    ClientManager* client = makeStorageClient(provider).release();
    client->setParent(context);
    QPointer<ClientManager> alive(client);
    client->onFailure = [alive, onFailure](const QString& reason) {
        if (alive)
            alive->deleteLater();
        onFailure(reason);
    };
    client->getUserData([alive, onUser](const ZUser& user) {
        if (alive)
            alive->deleteLater();
        onUser(user);
    });
}

void registerAccount(const ZUser& user, QObject* context, AccountCallbacks callbacks) {
    Zelko::api().addNewUser(
        user,
        [user, onReady = callbacks.onReady] {
            currentUser() = user;
            onReady(user);
        },
        context,
        [onFailure = callbacks.onFailure](const QString& reason) {
            onFailure(AccountStep::registering,
                      QStringLiteral("The Vantry backend did not register the account: ") + reason);
        });
}

void makeAccountReady(StorageProvider provider, QObject* context, AccountCallbacks callbacks) {
    QPointer<QObject> guard(context);
    readAccount(
        provider, context,
        [guard, callbacks](const ZUser& user) {
            if (!guard)
                return;
            if (callbacks.onRead)
                callbacks.onRead(user);
            registerAccount(user, guard, callbacks);
        },
        [callbacks](const QString& reason) { callbacks.onFailure(AccountStep::reading, reason); });
}

StorageProvider storageProviderOf(SignedInProvider provider) {
    switch (provider) {
    case SignedInProvider::Dropbox:
        return StorageProvider::Dropbox;
    case SignedInProvider::Drive:
        return StorageProvider::Drive;
    case SignedInProvider::Zoho:
        return StorageProvider::Zoho;
    case SignedInProvider::SelfHosted:
        return StorageProvider::SelfHosted;
    case SignedInProvider::None:
        break;
    }
    return selectedProvider();
}
