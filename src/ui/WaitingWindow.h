#pragma once

#include <QDialog>

class FlatButton;
class QLabel;
class QLineEdit;
class Spinner;

// Shown while a sign-in waits for the user's browser: which provider, a way to open the page
// again, to cancel, and, where the provider shows a code instead of sending it back, a field to
// paste it into. Closing the window cancels.
class WaitingWindow : public QDialog {
    Q_OBJECT
public:
    WaitingWindow(const QString& provider, bool takesCode, QWidget* parent = nullptr);

    // Something the user should know while the sign-in goes on waiting.
    void setNotice(const QString& text);
    QString notice() const;
    // After a code went off: the field and its button wait for the answer.
    void setCodeBusy(bool busy);

    QLineEdit* codeField() const { return m_code; }

signals:
    void openPageAgain();
    void cancelRequested();
    void codeSubmitted(const QString& code);

protected:
    void reject() override;

private:
    QLabel* m_notice = nullptr;
    QLineEdit* m_code = nullptr;
    FlatButton* m_submit = nullptr;
    Spinner* m_spinner = nullptr;
};
