#include "qrcode/widgets/QRCodeVideoDetector.h"

#include "qrcode/QRCode.h"

#include <QCamera>
#include <QCoreApplication>
#include <QMediaCaptureSession>
#include <QMediaDevices>
#include <QPointer>
#include <QThreadPool>
#include <QVideoFrame>
#include <QVideoSink>

QRCodeVideoDetector::QRCodeVideoDetector(QObject* parent) : QObject(parent) {}

QRCodeVideoDetector::~QRCodeVideoDetector() {
    stop();
}

std::optional<QRCodeVideoDetector::CaptureError> QRCodeVideoDetector::start(DetectionBlock detectionBlock,
                                                                            QVideoSink* previewSink) {
    stop();
    const QCameraDevice device = QMediaDevices::defaultVideoInput();
    if (device.isNull())
        return CaptureError::noDefaultVideoDevice;
    auto camera = std::make_unique<QCamera>(device);
    if (camera->error() != QCamera::NoError)
        return CaptureError::cannotCreateVideoInput;
    auto session = std::make_unique<QMediaCaptureSession>();
    session->setCamera(camera.get());
    QVideoSink* sink = previewSink;
    if (!sink) {
        m_ownSink = std::make_unique<QVideoSink>();
        sink = m_ownSink.get();
    }
    session->setVideoSink(sink);
    if (session->videoSink() != sink) {
        m_ownSink.reset();
        return CaptureError::cannotAddVideoOutput;
    }
    connect(sink, &QVideoSink::videoFrameChanged, this, &QRCodeVideoDetector::onFrame);
    m_detectionBlock = std::move(detectionBlock);
    m_camera = std::move(camera);
    m_session = std::move(session);
    m_camera->start();
    return std::nullopt;
}

void QRCodeVideoDetector::stop() {
    if (m_camera)
        m_camera->stop();
    if (m_session && m_session->videoSink())
        disconnect(m_session->videoSink(), nullptr, this, nullptr);
    m_session.reset();
    m_camera.reset();
    m_ownSink.reset();
}

void QRCodeVideoDetector::onFrame(const QVideoFrame& frame) {
    if (!frame.isValid() || m_busy->exchange(true))
        return; // the detector is still on an earlier frame
    const QImage image = frame.toImage();
    QPointer<QRCodeVideoDetector> self(this);
    auto busy = m_busy;
    QThreadPool::globalInstance()->start([self, busy, image] {
        const QStringList texts = QRCode::DetectQRCodes(image);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, texts] {
                if (self && self->m_detectionBlock && !texts.isEmpty())
                    self->m_detectionBlock(texts);
            },
            Qt::QueuedConnection);
        busy->store(false);
    });
}
