#pragma once

#include "backend/BackendApi.h"
#include "records/DeviceCheck.h"
#include "records/Zapp.h"

#include <QWidget>

#include <functional>

class QClipboard;
class QLabel;
class QPushButton;

// The device check of a development or ad hoc build in its details: how many devices testers
// checked from the install page and how many the build does not include, and those as the list
// Apple's developer site takes for a multiple-device upload.
class DeviceChecksRow : public QWidget {
    Q_OBJECT
public:
    // iOS builds whose profile lists devices.
    static bool appliesTo(const Zapp& app);

    DeviceChecksRow(const QString& appId, const BackendApi& backend, std::function<QClipboard*()> clipboard,
                    QWidget* parent = nullptr);

    QString text() const;
    QPushButton* copyButton() const { return m_copyButton; }

public slots:
    void copyDeviceList();

signals:
    void checksLoaded();

private:
    std::function<QClipboard*()> m_clipboard;
    QList<DeviceCheck> m_checks;
    QLabel* m_label = nullptr;
    QPushButton* m_copyButton = nullptr;
};
