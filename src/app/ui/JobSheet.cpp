#include "app/ui/JobSheet.h"

#include "app/ui/ProcessView.h"

#include <QVBoxLayout>

JobSheet::JobSheet(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("jobSheet"));
    setWindowTitle(QStringLiteral("Vantry"));
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_TranslucentBackground);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_view = new ProcessView(this);
    layout->addWidget(m_view);
    setFixedSize(550, 350);
}

void JobSheet::present() {
    if (QWidget* owner = parentWidget()) {
        const QRect area = owner->window()->geometry();
        move(area.center() - rect().center());
    }
    open();
}
