#include "ui/UserProfile.h"

#include "storage/ClientManager.h"

#include <QMetaObject>

namespace UserProfile {

void fetch(QObject* context, OnUser onUser) {
    // Owned by the context: leaving it cancels the request; an answer or a failure ends the client.
    ClientManager* client = makeStorageClient().release();
    client->setParent(context);
    client->onFailure = [client](const QString&) { client->deleteLater(); };
    client->getUserData([client, onUser = std::move(onUser)](const ZUser& user) {
        // The answer may come on another thread; the caller is touched only on the client's own.
        QMetaObject::invokeMethod(
            client,
            [client, onUser, user] {
                onUser(user);
                client->deleteLater();
            },
            Qt::QueuedConnection);
    });
}

} // namespace UserProfile
