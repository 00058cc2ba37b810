#pragma once

#include <QNetworkReply>
#include <QString>

// A short sentence for a failed request, fit to show to the user; never a raw error code.
QString networkErrorText(QNetworkReply::NetworkError error);
