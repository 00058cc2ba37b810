#include "app/JobValues.h"

QString& currentFileName() {
    static QString value;
    return value;
}

QString& appFolderPath() {
    static QString value;
    return value;
}

QString& resultLink() {
    static QString value;
    return value;
}
