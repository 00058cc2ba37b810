#pragma once

#include <QVariantAnimation>
#include <QWidget>

class FlatButton;
class QLabel;

// The sign-in screen: what Vantry does and one button per storage provider.
class LoginView : public QWidget {
    Q_OBJECT
public:
    enum class Provider { Dropbox, Zoho, Drive, SelfHosted };

    explicit LoginView(QWidget* parent = nullptr);

    FlatButton* button(Provider provider) const;
    // A short line under the buttons (a failed or cancelled sign-in); empty hides it.
    void setMessage(const QString& text);
    QString message() const;
    // Buttons off while a sign-in runs, so a second one cannot start over it.
    void setBusy(bool busy);

    // Every button press stops the illustration's animation.
    bool shouldStopAnimation() const { return m_shouldStopAnimation; }
    void setShouldStopAnimation(bool stop);
    bool isAnimating() const { return m_animation.state() == QAbstractAnimation::Running; }

signals:
    void providerChosen(LoginView::Provider provider);

private:
    FlatButton* addProviderButton(Provider provider, const QString& title, const QString& image);

    QHash<int, FlatButton*> m_buttons;
    QLabel* m_message = nullptr;
    QWidget* m_illustration = nullptr;
    QVariantAnimation m_animation;
    bool m_shouldStopAnimation = false;
};
