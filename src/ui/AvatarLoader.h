#pragma once

#include <QImage>
#include <QUrl>

#include <functional>

class QObject;

// Fetches a profile picture. onImage runs on the main thread, and only when the answer is HTTP 200
// with an image MIME type and a body that decodes; otherwise onRefused runs. A context destroyed
// before the answer cancels both.
void loadAvatar(const QUrl& url, QObject* context, std::function<void(const QImage&)> onImage,
                std::function<void()> onRefused = {});
