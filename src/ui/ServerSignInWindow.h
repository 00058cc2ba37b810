#pragma once

#include <QDialog>

class FlatButton;
class QLabel;
class QLineEdit;

// Asks for the address of a self-hosted Vantry server and its storage token. The token may stay
// empty for a server on this machine, which keeps it where Vantry can read it.
class ServerSignInWindow : public QDialog {
    Q_OBJECT
public:
    ServerSignInWindow(const QString& url, QWidget* parent = nullptr);

    QString url() const;
    QString token() const;
    QLineEdit* urlField() const { return m_url; }
    QLineEdit* tokenField() const { return m_token; }

    // While the server is asked: fields and "Sign in" off, the line says so.
    void setBusy(bool busy);
    void setMessage(const QString& text);
    QString message() const;

signals:
    void signInRequested(const QString& url, const QString& token);
    void cancelRequested();

protected:
    void reject() override;

private:
    void updateSignIn();

    QLineEdit* m_url = nullptr;
    QLineEdit* m_token = nullptr;
    QLabel* m_message = nullptr;
    FlatButton* m_signIn = nullptr;
};
