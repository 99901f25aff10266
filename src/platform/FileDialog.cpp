#include "platform/FileDialog.h"

#include "platform/PlatformError.h"

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

void chooseFile(FileDialog &dialog, const QString &title, QString &source, const QString &filter)
{
    dialog.DialogTitle = title;
    dialog.FileName = source;
    dialog.CancelError = true;
    dialog.Filter = filter;

    try {
        dialog.ShowOpen();
        if (!dialog.FileName.isEmpty())
            source = dialog.FileName;
    } catch (const PlatformError &) {
        // A cancel or a failing dialog leaves the name as it was.
    }
}
