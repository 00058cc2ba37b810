#include "ui/FileDialog.h"

#include <QFileDialog>

namespace {
FileDialog::Chooser& chooser() {
    static FileDialog::Chooser c;
    return c;
}
} // namespace

namespace FileDialog {

std::optional<QString> choosePackage(QWidget* parent) {
    if (chooser())
        return chooser()(parent);
    QFileDialog dialog(parent, title);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // No folder creation from here; hidden files stay hidden (the default filter).
    dialog.setOption(QFileDialog::ReadOnly);
    // Native dialogs may match patterns case-sensitively.
    dialog.setNameFilter(QStringLiteral("iOS or Android package (*.ipa *.apk *.IPA *.APK)"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

void setChooser(Chooser c) {
    chooser() = std::move(c);
}

} // namespace FileDialog
