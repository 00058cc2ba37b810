#pragma once

#include <QtGlobal>

#include <functional>

// Hands bytes ÷ size to progress as a fraction that never runs backwards: a piece that is sent
// again repeats bytes already counted. reported keeps the last fraction given (start below 0).
inline void reportUploadProgress(qint64 bytes, qint64 size, double& reported,
                                 const std::function<void(double)>& progress) {
    const double fraction = size > 0 ? qMin(1.0, double(bytes) / double(size)) : 1.0;
    if (fraction <= reported || !progress)
        return;
    reported = fraction;
    progress(fraction);
}
