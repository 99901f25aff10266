#include "platform/FileDialog.h"

#include "platform/PlatformError.h"

#include <QFileDialog>

QStringList qtNameFilters(const QString &filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts).join(QLatin1Char(' '));
        // A name that already shows its patterns, "Data file (*.dat)", keeps
        // them once.
        const QString shown = QStringLiteral("(%1)").arg(patterns);
        filters << (parts[i].trimmed().endsWith(shown) ? parts[i] : QStringLiteral("%1 %2").arg(parts[i], shown));
    }
    return filters;
}

void QtFileDialog::ShowOpen()
{
    QFileDialog dialog(m_parent, DialogTitle);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Any name may be typed: a file that does not exist is reported when it
    // is opened, not here.
    dialog.setFileMode(QFileDialog::AnyFile);
    const QStringList filters = qtNameFilters(Filter);
    if (!filters.isEmpty())
        dialog.setNameFilters(filters);
    dialog.selectFile(FileName);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        FileName = dialog.selectedFiles().constFirst();
        return;
    }
    if (CancelError)
        throw PlatformError{ErrorNumber::DialogCancelled, QStringLiteral("Cancel was selected.")};
}
