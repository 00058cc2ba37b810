#include "JobSupport.h"

#include <QImage>
#include <QTimer>

void PrintTo(const Status& s, std::ostream* os) {
    *os << "(\"" << s.title.toStdString() << "\", \"" << s.detail.toStdString() << "\", "
        << processStateName(s.state).toStdString() << ")";
}

void RecordingSink::setStatus(const QString& title, const QString& detail, ProcessState state) {
    statuses.push_back({title, detail, state});
    if (onStatus)
        onStatus(statuses.back());
}

QDateTime jobTime() {
    return QDateTime(QDate(2024, 12, 31), QTime(23, 59, 58));
}

PackageRecord bigGame(const QString& icon) {
    QImage image(60, 60, QImage::Format_ARGB32);
    image.fill(QColor(40, 90, 200));
    testsupport::writeFile(icon, {});
    image.save(icon, "PNG");
    return {QStringLiteral("com.example.big"),
            QStringLiteral("2.1"),
            QStringLiteral("Big Game"),
            icon,
            QStringLiteral("3 MB"),
            QStringLiteral("15.0"),
            QString()};
}

void Script::releaseHeld() {
    auto pending = std::move(held);
    held.clear();
    for (auto& call : pending)
        call();
}

int Script::indexOf(const QString& prefix) const {
    for (int i = 0; i < calls.size(); ++i) {
        if (calls.at(i).startsWith(prefix))
            return i;
    }
    return -1;
}

void ScriptedClient::answer(const QString& call, std::function<void()> success) {
    m_script.calls << call;
    if (const std::optional<QString> message = m_script.failure(call)) {
        QTimer::singleShot(0, this, [this, message] { fail(*message); });
        return;
    }
    if (m_script.hold(call)) {
        m_script.held.push_back(success);
        return;
    }
    QTimer::singleShot(0, this, success);
}

void ScriptedClient::createFolder(const QString& path, FolderCompletion completion) {
    const bool existed = m_script.foldersExist;
    answer(QStringLiteral("folder ") + path, [completion, existed] { completion(existed); });
}

void ScriptedClient::uploadFile(const QString& localPath, const QString& remotePath,
                                UploadCompletion completion, Progress progress) {
    const std::vector<double> steps = m_script.progress;
    const QString notice = m_script.notice;
    answer(QStringLiteral("upload %1 -> %2").arg(localPath, remotePath), [=, this] {
        for (double f : steps)
            progress(f);
        if (!notice.isEmpty() && onNotice)
            onNotice(notice);
        completion(false);
    });
}

void ScriptedClient::shareLink(const QString& remotePath, LinkCompletion completion) {
    const QString link = m_script.link(remotePath);
    answer(QStringLiteral("link ") + remotePath, [completion, link] { completion(link); });
}

void FakeBackend::createApp(const Zapp& app, OnLinks onLink, Failure onFailure) {
    apps.append(app);
    const QString link =
        QStringLiteral("https://v.example/") + QString(app.appid).remove(QStringLiteral("__android"));
    std::function<void()> answer = failure
                                       ? std::function<void()>([onFailure, f = *failure] { onFailure(f); })
                                       : std::function<void()>([onLink, link] { onLink(link, QString()); });
    if (hold)
        held.push_back(answer);
    else
        QTimer::singleShot(0, answer);
}

bool waitForEnd(const NewProcessController& job, int timeoutMs) {
    return testsupport::waitUntil([&] { return !isRunning(job.state()); }, timeoutMs);
}
