#pragma once

#include <QString>

#include <optional>

// Text secrets under a (service, account) key. The desktop's keychain (Secret Service or KWallet
// through QtKeychain) holds them; where no keychain service answers (headless machines, CI) a
// per-user file readable only by its owner takes its place with the same semantics.
class KeychainHelper {
public:
    static inline const QString accountName = QStringLiteral("VantryOauth");

    std::optional<QString> read(const QString& service, const QString& account = accountName) const;
    void save(const QString& service, const QString& account, const QString& value);

    // The owner-only fallback file.
    static QString fallbackFilePath();
    // Whether a session bus (and so possibly a keychain service) is there to ask at all.
    static bool sessionBusPresent();
};
