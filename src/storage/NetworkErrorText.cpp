#include "storage/NetworkErrorText.h"

QString networkErrorText(QNetworkReply::NetworkError error) {
    using E = QNetworkReply::NetworkError;
    switch (error) {
    case E::HostNotFoundError:
    case E::TemporaryNetworkFailureError:
    case E::NetworkSessionFailedError:
    case E::UnknownNetworkError:
        return QStringLiteral("The Internet connection appears to be offline.");
    case E::ConnectionRefusedError:
        return QStringLiteral("Could not connect to the server.");
    case E::RemoteHostClosedError:
        return QStringLiteral("The network connection was lost.");
    case E::TimeoutError:
        return QStringLiteral("The request timed out.");
    case E::SslHandshakeFailedError:
        return QStringLiteral("A secure connection to the server cannot be made.");
    case E::OperationCanceledError:
        return QStringLiteral("The request was cancelled.");
    case E::ProxyConnectionRefusedError:
    case E::ProxyConnectionClosedError:
    case E::ProxyNotFoundError:
    case E::ProxyTimeoutError:
    case E::ProxyAuthenticationRequiredError:
        return QStringLiteral("The proxy server is not answering.");
    default:
        return QStringLiteral("The server could not complete the request.");
    }
}
