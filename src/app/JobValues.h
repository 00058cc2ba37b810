#pragma once

#include <QString>

// Values of the running hosting job that live for the whole process and are overwritten by the
// next job (one job runs at a time). Main thread only.
QString& currentFileName(); // package file name without its extension; title of notifications
QString& appFolderPath();   // "/Vantry/<name>_<time stamp>", the job folder
QString& resultLink();      // the backend's link of the last hosted app (the Copy button)
