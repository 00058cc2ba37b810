#include "app/ProcessState.h"

QString processStateName(ProcessState state) {
    switch (state) {
    case ProcessState::preparing:
        return QStringLiteral("preparing");
    case ProcessState::transferring:
        return QStringLiteral("transferring");
    case ProcessState::processing:
        return QStringLiteral("processing");
    case ProcessState::hosting:
        return QStringLiteral("hosting");
    case ProcessState::completed:
        return QStringLiteral("completed");
    case ProcessState::cancelled:
        return QStringLiteral("cancelled");
    case ProcessState::failed:
        break;
    }
    return QStringLiteral("failed");
}
