// --html: the evidence a carrier hands over, in one page with no outside parts.

#include "conform/ConformReport.h"

#include "platform/CommandLine.h"
#include "report/Outcome.h"

namespace {

QByteArray escaped(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

QByteArray escaped(const QByteArray &bytes)
{
    return escaped(QString::fromLatin1(printable(bytes)));
}

QByteArray outcomeCell(const std::optional<CaseOutcome> &outcome)
{
    if (!outcome)
        return "<td>-</td>";
    const QByteArray name = caseOutcomeName(*outcome);
    return "<td class=\"" + name + "\">" + name + "</td>";
}

QByteArray caseDetail(const CaseResult &c)
{
    QByteArray html = "<h3 id=\"c" + QByteArray(c.info.id) + "\">" + c.info.id + ' ' + escaped(QLatin1String(c.info.title)) +
                      "</h3>\n<p>" + levelName(c.info.level) + ", " + caseOutcomeName(c.outcome) + ", " +
                      QByteArray::number(c.ms, 'f', 0) + " ms: " + escaped(c.reason) + "</p>\n";
    if (c.exchanges.isEmpty())
        return html;
    html += "<table><tr><th>sent</th><th>bytes</th><th>reply</th><th>class</th><th>ms</th></tr>\n";
    for (const ExchangeResult &e : c.exchanges)
        html += "<tr><td><code>" + escaped(e.sent.left(200)) + "</code></td><td>" + QByteArray::number(e.sent.size()) +
                "</td><td><code>" + escaped(e.reply.left(400)) + "</code></td><td>" + replyClassName(e.replyClass) +
                "</td><td>" + QByteArray::number(e.ms, 'f', 1) + "</td></tr>\n";
    return html + "</table>\n";
}

QByteArray sectionTable(const SuiteResult &suite, int section)
{
    QByteArray html = "<h2>" + QByteArray::number(section) + ' ' + escaped(sectionTitle(section)) +
                      "</h2>\n<table><tr><th>case</th><th>level</th><th>title</th><th>outcome</th>";
    if (suite.compared)
        html += "<th>earlier</th>";
    html += "<th>why</th></tr>\n";
    for (const CaseResult &c : suite.cases) {
        if (c.info.section != section)
            continue;
        const bool changed = suite.compared && c.earlier && *c.earlier != c.outcome;
        html += QByteArray(c.regression ? "<tr class=\"regression\">" : changed ? "<tr class=\"changed\">" : "<tr>") +
                "<td><a href=\"#c" + c.info.id + "\">" + c.info.id + "</a></td><td>" + levelName(c.info.level) +
                "</td><td>" + escaped(QLatin1String(c.info.title)) + "</td>" + outcomeCell(c.outcome);
        if (suite.compared)
            html += outcomeCell(c.earlier).replace("</td>", c.regression ? " (regression)</td>"
                                                           : changed       ? " (changed)</td>"
                                                                           : "</td>");
        html += "<td>" + escaped(c.reason) + "</td></tr>\n";
    }
    return html + "</table>\n";
}

} // namespace

bool writeHtmlReport(const SuiteResult &suite, const QString &fileName, QString *error)
{
    QByteArray html =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>ipnd-conform: " +
        escaped(suite.target) +
        "</title>\n<style>body{font-family:sans-serif;margin:2em}table{border-collapse:collapse;margin-bottom:1em}"
        "td,th{border:1px solid #999;padding:2px 6px;text-align:left;vertical-align:top}code{word-break:break-all}"
        ".pass{background:#bfb}.fail{background:#f99}.non-strict{background:#fd8}.info{background:#bdf}"
        ".missing{background:#ddd}.regression td:first-child{border-left:6px solid #c00}"
        ".changed td:first-child{border-left:6px solid #f90}</style></head><body>\n"
        "<h1>Conformance of " + escaped(suite.target) + "</h1>\n<table>"
        "<tr><th>target</th><td>" + escaped(suite.target) + "</td></tr>"
        "<tr><th>suite</th><td>" + SuiteName + "</td></tr>"
        "<tr><th>program</th><td>ipnd-conform " + escaped(versionText()) + "</td></tr>"
        "<tr><th>started</th><td>" + escaped(isoTime(suite.started)) + "</td></tr>"
        "<tr><th>command</th><td><code>" + escaped(suite.command) + "</code></td></tr>"
        "<tr><th>seed</th><td>" + QByteArray::number(suite.seed) + "</td></tr>"
        "<tr><th>result</th><td class=\"" + (suite.passed() ? "pass\">passed" : "fail\">not passed") +
        (suite.interrupted ? " (interrupted)" : "") + "</td></tr>"
        "<tr><th>summary</th><td>" + escaped(QString::fromLatin1(summaryLine(suite))) + "</td></tr></table>\n";
    for (int section = 1; section <= 4; ++section)
        html += sectionTable(suite, section);
    html += "<h2>Details</h2>\n";
    for (const CaseResult &c : suite.cases) {
        if (c.outcome != CaseOutcome::Missing)
            html += caseDetail(c);
    }
    html += "</body></html>\n";
    return saveReport(fileName, html, error);
}
