#include "app/HostingBackend.h"

#include "backend/BackendApi.h"
#include "backend/Zelko.h"

ZelkoHostingBackend::ZelkoHostingBackend(QString baseUrl) : m_baseUrl(std::move(baseUrl)) {}

void ZelkoHostingBackend::createApp(const Zapp& app, OnLinks onLink, Failure onFailure) {
    m_request = std::make_unique<QObject>();
    // Read at the request: Zelko fixes its base URL at its first use.
    const BackendApi api = m_baseUrl.isEmpty() ? Zelko::api() : BackendApi(m_baseUrl);
    api.createApp(app, std::move(onLink), m_request.get(), std::move(onFailure));
}
