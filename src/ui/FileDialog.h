#pragma once

#include <QString>

#include <functional>
#include <optional>

class QWidget;

// The open panel of the create pane, behind a seam so tests answer it without a real dialog.
namespace FileDialog {

inline const QString title = QStringLiteral("Choose a .ipa or .apk file");

// One existing package file, or nothing when the user cancels.
std::optional<QString> choosePackage(QWidget* parent);

// Replaces the dialog (tests); an empty function brings the real one back.
using Chooser = std::function<std::optional<QString>(QWidget* parent)>;
void setChooser(Chooser chooser);

} // namespace FileDialog
