#pragma once

#include "conform/Cases.h"

#include <QHash>
#include <QString>

// The reports of a run, each written whole (renamed into place) once the
// run has ended, also when it was interrupted. Each returns false, with a
// one-line reason in *error, when its file cannot be written.
bool writeJsonReport(const SuiteResult &suite, const QString &fileName, QString *error);
bool writeJUnitReport(const SuiteResult &suite, const QString &fileName, QString *error);
bool writeHtmlReport(const SuiteResult &suite, const QString &fileName, QString *error);
// `bytes` as the whole report, renamed into place.
bool saveReport(const QString &fileName, const QByteArray &bytes, QString *error);

// An earlier JSON report: each case's outcome by id. False, with a reason,
// when it cannot be read or is of another suite.
bool readEarlierReport(const QString &fileName, QHash<QString, CaseOutcome> *outcomes, QString *error);
// Puts the earlier outcome beside a case and marks a regression: a case
// that passed, was non-strict or info, and now fails.
void compareWithEarlier(CaseResult *result, const QHash<QString, CaseOutcome> &earlier);
