#pragma once

#include <QObject>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QCamera;
class QMediaCaptureSession;
class QVideoFrame;
class QVideoSink;

// Reads QR codes from the default camera: every frame that arrives while no detection is
// running goes to the detector; late frames are dropped.
class QRCodeVideoDetector : public QObject {
    Q_OBJECT
public:
    enum class CaptureError { noSession, noDefaultVideoDevice, cannotCreateVideoInput, cannotAddVideoOutput };
    using DetectionBlock = std::function<void(const QStringList& texts)>;

    explicit QRCodeVideoDetector(QObject* parent = nullptr);
    ~QRCodeVideoDetector() override;

    // previewSink (for example a QVideoWidget's) shows the frames too; without one the detector
    // uses a sink of its own.
    std::optional<CaptureError> start(DetectionBlock detectionBlock, QVideoSink* previewSink = nullptr);
    void stop();
    bool isRunning() const { return m_session != nullptr; }
    QMediaCaptureSession* captureSession() const { return m_session.get(); }

private:
    void onFrame(const QVideoFrame& frame);

    std::unique_ptr<QMediaCaptureSession> m_session;
    std::unique_ptr<QCamera> m_camera;
    std::unique_ptr<QVideoSink> m_ownSink;
    DetectionBlock m_detectionBlock;
    std::shared_ptr<std::atomic_bool> m_busy = std::make_shared<std::atomic_bool>(false);
};
