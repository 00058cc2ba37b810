#pragma once

#include "cli/Command.h"

class QIODevice;

// vantry-cli login dropbox|drive|zoho|self: signs in with the provider in the user's browser (or
// with a self-hosted server's token) and registers the account with the backend.
class LoginCommand : public Command {
public:
    QString name() const override { return QStringLiteral("login"); }
    QString summary() const override {
        return QStringLiteral("Sign in with Dropbox, Google Drive, Zoho WorkDrive or a self-hosted server.");
    }
    int run(const QStringList& args, QTextStream& out, QTextStream& err) override;

    // Where pasted codes are read from; standard input when unset (tests give their own).
    static void setInput(QIODevice* input);
};

// vantry-cli logout: signs out of the provider in use.
class LogoutCommand : public Command {
public:
    QString name() const override { return QStringLiteral("logout"); }
    QString summary() const override { return QStringLiteral("Sign out."); }
    int run(const QStringList& args, QTextStream& out, QTextStream& err) override;
};

// vantry-cli whoami: the provider and account signed in; status 1 when nobody is.
class WhoamiCommand : public Command {
public:
    QString name() const override { return QStringLiteral("whoami"); }
    QString summary() const override { return QStringLiteral("Show the signed-in provider and account."); }
    int run(const QStringList& args, QTextStream& out, QTextStream& err) override;
};
