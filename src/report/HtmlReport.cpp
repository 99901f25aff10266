#include "report/ReportWriters.h"

#include "platform/OutputFile.h"

#include <QXmlStreamWriter>

#include <algorithm>
#include <cmath>

namespace {
// Local and generic only: the page opens offline.
const QString Style = QStringLiteral(
    "body{font-family:sans-serif;margin:1.5em;color:#222}"
    "table{border-collapse:collapse;margin-bottom:1em}"
    "td,th{border:1px solid #ccc;padding:2px 8px;text-align:left;vertical-align:top}"
    "td.n{text-align:right;font-variant-numeric:tabular-nums}"
    "td.d{white-space:nowrap}td.t{font-family:monospace;white-space:pre-wrap;word-break:break-all}"
    ".passed{color:#060;font-weight:bold}.failed{color:#b00;font-weight:bold}.running{color:#a60;font-weight:bold}"
    "td.fail{background:#fdd;color:#b00;font-weight:bold}"
    "svg{background:#fafafa;border:1px solid #ddd;display:block;margin-bottom:1em}"
    "svg text{font-family:sans-serif;font-size:11px;fill:#444}");

constexpr int Width = 720;
constexpr int Height = 260;
constexpr double Left = 60, Right = 700, Top = 20, Bottom = 220;
constexpr int MaxShownBytes = 200; // of a reply or a reason in the failed table
// The charts' bins: ten a decade, from 1 microsecond to 1000 s.
const LogHistogram::Scale ChartScale{1e-3, std::pow(10.0, 0.1), 90};

QString num(double value, int decimals = 1)
{
    return QString::number(value, 'f', decimals);
}

QString milliseconds(double value)
{
    return QString::number(value, 'f', 3);
}

// Printable text of at most MaxShownBytes.
QString shown(const QByteArray &bytes)
{
    QByteArray text = printable(bytes.left(MaxShownBytes));
    if (bytes.size() > MaxShownBytes)
        text += "...";
    return QString::fromLatin1(text);
}

} // namespace

// Elements written as an HTML parser reads them: a non-void element always
// gets a closing tag, never "<td/>".
class HtmlPage
{
public:
    explicit HtmlPage(QByteArray *out) : xml(out) {}

    void element(const QString &name, const QString &text, const QString &cssClass = {})
    {
        xml.writeStartElement(name);
        if (!cssClass.isEmpty())
            xml.writeAttribute(QStringLiteral("class"), cssClass);
        xml.writeCharacters(text);
        xml.writeEndElement();
    }
    void start(const QString &name, const QString &id = {})
    {
        xml.writeStartElement(name);
        if (!id.isEmpty())
            xml.writeAttribute(QStringLiteral("id"), id);
    }
    void end() { xml.writeEndElement(); }
    void row(const QString &label, const QString &value)
    {
        start(QStringLiteral("tr"));
        element(QStringLiteral("th"), label);
        element(QStringLiteral("td"), value, QStringLiteral("n"));
        end();
    }
    // An SVG shape; `title` shows when the pointer rests on it.
    void shape(const QString &name, const QList<std::pair<QString, QString>> &attributes, const QString &title = {})
    {
        xml.writeStartElement(name);
        for (const auto &[key, value] : attributes)
            xml.writeAttribute(key, value);
        if (!title.isEmpty())
            element(QStringLiteral("title"), title);
        xml.writeEndElement();
    }
    void label(double x, double y, const QString &text, const QString &anchor = QStringLiteral("middle"),
               bool upright = false)
    {
        xml.writeStartElement(QStringLiteral("text"));
        xml.writeAttribute(QStringLiteral("x"), num(x));
        xml.writeAttribute(QStringLiteral("y"), num(y));
        xml.writeAttribute(QStringLiteral("text-anchor"), anchor);
        if (upright) // read from bottom to top, along a vertical axis
            xml.writeAttribute(QStringLiteral("transform"), QStringLiteral("rotate(-90 %1 %2)").arg(num(x), num(y)));
        xml.writeCharacters(text);
        xml.writeEndElement();
    }
    void startSvg(const QString &id, const QString &description)
    {
        start(QStringLiteral("svg"), id);
        xml.writeAttribute(QStringLiteral("xmlns"), QStringLiteral("http://www.w3.org/2000/svg"));
        xml.writeAttribute(QStringLiteral("width"), QString::number(Width));
        xml.writeAttribute(QStringLiteral("height"), QString::number(Height));
        xml.writeAttribute(QStringLiteral("viewBox"), QStringLiteral("0 0 %1 %2").arg(Width).arg(Height));
        xml.writeAttribute(QStringLiteral("role"), QStringLiteral("img"));
        element(QStringLiteral("title"), description);
        const QString axis = QStringLiteral("M%1 %2 V%3 H%4").arg(num(Left), num(Top), num(Bottom), num(Right));
        shape(QStringLiteral("path"), {{QStringLiteral("d"), axis}, {QStringLiteral("stroke"), QStringLiteral("#888")},
                                       {QStringLiteral("fill"), QStringLiteral("none")}});
    }

    QXmlStreamWriter xml;
};

namespace {

// The names of the axes, and a swatch of colour for each thing drawn, in
// the margin above the plot.
void frame(HtmlPage &html, const QString &xAxis, const QString &yAxis,
           const QList<std::pair<QString, QString>> &legend)
{
    html.label((Left + Right) / 2, Bottom + 34, xAxis);
    html.label(16, (Top + Bottom) / 2, yAxis, QStringLiteral("middle"), true);
    html.start(QStringLiteral("g"));
    html.xml.writeAttribute(QStringLiteral("class"), QStringLiteral("legend"));
    double x = Right;
    for (auto entry = legend.crbegin(); entry != legend.crend(); ++entry) {
        const auto &[colour, text] = *entry;
        x -= 26 + 6.5 * double(text.size());
        html.shape(QStringLiteral("rect"), {{QStringLiteral("x"), num(x)}, {QStringLiteral("y"), QStringLiteral("4")},
                                            {QStringLiteral("width"), QStringLiteral("10")},
                                            {QStringLiteral("height"), QStringLiteral("10")},
                                            {QStringLiteral("fill"), colour}});
        html.label(x + 14, 13, text, QStringLiteral("start"));
    }
    html.end();
}

// A lower edge of a bin that is a power of ten.
bool isDecade(double edge)
{
    const double exponent = std::log10(edge);
    return std::abs(exponent - std::round(exponent)) < 1e-6;
}

// Times in the histogram's bins, on its log scale.
void histogramChart(HtmlPage &html, const QString &id, const QString &measure, const LogHistogram &times)
{
    const auto edge = [&](int bin) { return QString::number(times.edge(bin), 'g', 3); };
    html.startSvg(id, QStringLiteral("Histogram of %1 times, log scale").arg(measure));
    if (times.count() == 0) {
        html.label((Left + Right) / 2, (Top + Bottom) / 2, QStringLiteral("No replies"));
        html.end();
        return;
    }
    int lo = 0;
    while (times.binCount(lo) == 0)
        ++lo;
    int hi = times.bins() - 1;
    while (times.binCount(hi) == 0)
        --hi;
    qint64 most = 0;
    for (int bin = lo; bin <= hi; ++bin)
        most = std::max(most, times.binCount(bin));
    const double barWidth = (Right - Left) / (hi - lo + 1);
    for (int bin = lo; bin <= hi; ++bin) {
        const qint64 count = times.binCount(bin);
        if (count == 0)
            continue;
        const double h = (Bottom - Top) * double(count) / double(most);
        const double x = Left + (bin - lo) * barWidth;
        html.shape(QStringLiteral("rect"),
                   {{QStringLiteral("x"), num(x)}, {QStringLiteral("y"), num(Bottom - h)},
                    {QStringLiteral("width"), num(std::max(1.0, barWidth - 1))}, {QStringLiteral("height"), num(h)},
                    {QStringLiteral("fill"), QStringLiteral("#4a7ab5")}},
                   QStringLiteral("%1 to %2 ms: %3").arg(edge(bin), edge(bin + 1)).arg(count));
        if (barWidth >= 28) // room for the bar's count above it
            html.label(x + barWidth / 2, Bottom - h - 3, QString::number(count));
    }
    // Every bin's edge while they fit, else each decade's.
    const bool everyEdge = hi - lo + 1 <= 12;
    for (int bin = lo; bin <= hi + 1; ++bin) {
        if (everyEdge || bin == lo || isDecade(times.edge(bin)))
            html.label(Left + (bin - lo) * barWidth, Bottom + 16, edge(bin));
    }
    html.label(Left - 6, Top + 4, QString::number(most), QStringLiteral("end"));
    html.label(Left - 6, Bottom, QStringLiteral("0"), QStringLiteral("end"));
    frame(html, measure + QStringLiteral(", ms (log scale; each bar from the edge below its left side)"),
          QStringLiteral("replies"), {{QStringLiteral("#4a7ab5"), QStringLiteral("replies in the bin")}});
    html.end();
}

// One column of records sent in a chart over the run.
struct Column
{
    qint64 count = 0; // with a time
    double sumMs = 0;
    double minMs = 0;
    double maxMs = 0;
    qint64 failures = 0;
};

// Each column as its lowest to highest time, the mean as a line, failures
// as red marks along the bottom.
void overRunChart(HtmlPage &html, const QString &id, const QString &measure, const QList<Column> &columns,
                  qint64 spanWidth, qint64 sent)
{
    html.startSvg(id, QStringLiteral("%1 time over the run").arg(measure));
    if (columns.isEmpty()) {
        html.label((Left + Right) / 2, (Top + Bottom) / 2, QStringLiteral("Nothing sent"));
        html.end();
        return;
    }
    double highest = 0;
    for (const Column &column : columns)
        highest = std::max(highest, column.maxMs);
    const double step = (Right - Left) / double(columns.size());
    const auto y = [&](double ms) { return highest > 0 ? Bottom - (Bottom - Top) * ms / highest : Bottom; };
    QString range;
    QString mean;
    bool penDown = false;
    for (qsizetype i = 0; i < columns.size(); ++i) {
        const Column &column = columns[i];
        const double x = Left + (double(i) + 0.5) * step;
        if (column.count == 0) {
            penDown = false; // no time in the span: a gap in the line
        } else {
            range += QStringLiteral("M%1 %2 V%3 ").arg(num(x), num(y(column.maxMs)), num(y(column.minMs) + 0.5));
            mean += QStringLiteral("%1%2 %3 ").arg(penDown ? QStringLiteral("L") : QStringLiteral("M"), num(x),
                                                   num(y(column.sumMs / double(column.count))));
            penDown = true;
        }
        if (column.failures > 0) {
            const qint64 first = i * spanWidth + 1;
            html.shape(QStringLiteral("rect"),
                       {{QStringLiteral("x"), num(x - std::max(1.0, step / 2) / 2)},
                        {QStringLiteral("y"), num(Bottom - 6)},
                        {QStringLiteral("width"), num(std::max(1.0, step / 2))},
                        {QStringLiteral("height"), QStringLiteral("6")},
                        {QStringLiteral("fill"), QStringLiteral("#c00")}},
                       QStringLiteral("records sent %1 to %2: %3 failed")
                           .arg(first)
                           .arg(std::min(first + spanWidth - 1, sent))
                           .arg(column.failures));
        }
    }
    if (!range.isEmpty()) {
        html.shape(QStringLiteral("path"), {{QStringLiteral("d"), range.trimmed()},
                                            {QStringLiteral("stroke"), QStringLiteral("#9bb7d9")},
                                            {QStringLiteral("stroke-width"), num(std::max(1.0, step * 0.6))},
                                            {QStringLiteral("fill"), QStringLiteral("none")}});
        html.shape(QStringLiteral("path"), {{QStringLiteral("d"), mean.trimmed()},
                                            {QStringLiteral("stroke"), QStringLiteral("#1d4f91")},
                                            {QStringLiteral("stroke-width"), QStringLiteral("1.5")},
                                            {QStringLiteral("fill"), QStringLiteral("none")}});
    }
    html.label(Left, Bottom + 16, QStringLiteral("1"));
    // Ends at the axis: a count of seven digits or more would run off the picture.
    html.label(Right, Bottom + 16, QString::number(sent), QStringLiteral("end"));
    html.label(Left - 6, Top + 4, milliseconds(highest), QStringLiteral("end"));
    html.label(Left - 6, Bottom, QStringLiteral("0"), QStringLiteral("end"));
    frame(html, QStringLiteral("records sent, in order"), measure + QStringLiteral(", ms"),
          {{QStringLiteral("#9bb7d9"), QStringLiteral("lowest to highest")},
           {QStringLiteral("#1d4f91"), QStringLiteral("mean")},
           {QStringLiteral("#c00"), QStringLiteral("failed records")}});
    html.end();
}

// Kind by kind; a cell that fails the run is marked.
void byKindTable(HtmlPage &html, const ExpectTable &byExpect)
{
    html.element(QStringLiteral("h2"), QStringLiteral("By kind"));
    html.start(QStringLiteral("table"), QStringLiteral("by-expect"));
    html.start(QStringLiteral("tr"));
    html.element(QStringLiteral("th"), QStringLiteral("Kind"));
    html.element(QStringLiteral("th"), QStringLiteral("sent"));
    for (const ExpectCounts::Column &column : ExpectCounts::columns())
        html.element(QStringLiteral("th"), outcomeName(column.outcome));
    html.end();
    for (const auto &[kind, counts] : byExpect.rows()) {
        html.start(QStringLiteral("tr"));
        html.element(QStringLiteral("th"), shown(kind));
        html.element(QStringLiteral("td"), QString::number(counts.sent), QStringLiteral("n"));
        for (const ExpectCounts::Column &column : ExpectCounts::columns()) {
            const qint64 n = counts.*column.count;
            html.element(QStringLiteral("td"), QString::number(n),
                         n > 0 && isFailure(column.outcome) ? QStringLiteral("n fail") : QStringLiteral("n"));
        }
        html.end();
    }
    html.end();
}

} // namespace

namespace {
// A regular file is replaced whole at each rewrite; a device or a pipe is
// written into once, opened without waiting for a reader.
constexpr OutputWay PageWay{OutputWay::File::Replaced, OutputWay::Other::WithoutWaiting, false, true};
} // namespace

HtmlReport::HtmlReport(const QString &fileName, const QString &title, int rewriteIntervalMs)
    : m_fileName(fileName), m_title(title), m_rewriteIntervalMs(rewriteIntervalMs), m_roundTrips(ChartScale),
      m_latencies(ChartScale)
{
    m_catchUp.setSingleShot(true);
    QObject::connect(&m_catchUp, &QTimer::timeout, [this] { write(nullptr, {}, false); });
}

bool HtmlReport::open()
{
    // A device or a pipe is written into, once, at the end: replacing it
    // with a new file (as a rewrite does) would put a regular file where
    // /dev/null or a reader's pipe was.
    // Opened now, without waiting for a reader, and held open until the page goes in.
    m_once = isDeviceOrPipe(m_fileName);
    if (m_once) {
        m_pipe = openOutput(m_fileName, PageWay);
        if (!m_pipe->isOpen())
            fail(m_fileName, m_pipe->errorString());
        return error().isEmpty();
    }
    // A run that dies before its first record still leaves a page.
    write(nullptr, {}, false);
    return error().isEmpty();
}

void HtmlReport::add(const OutcomeRecord &record)
{
    m_tally.count(record);
    if (record.outcome == Outcome::Rejected) {
        if (m_rejected.size() < MaxFailedRows) {
            OutcomeRecord kept = record;
            kept.reason = kept.reason.left(MaxShownBytes + 1);
            m_rejected.append(kept);
        } else {
            ++m_rejectedNotShown;
        }
    }
    if (isFailure(record)) {
        if (m_failed.size() < MaxFailedRows) {
            OutcomeRecord kept = record;
            // Only what the table shows is kept: memory stays fixed.
            if (kept.reply)
                kept.reply = kept.reply->left(MaxShownBytes + 1);
            kept.reason = kept.reason.left(MaxShownBytes + 1);
            m_failed.append(kept);
        } else {
            ++m_failedNotShown;
        }
    }
    if (wasSent(record.outcome)) {
        if (record.rttMs)
            m_roundTrips.add(*record.rttMs);
        if (record.latencyMs)
            m_latencies.add(*record.latencyMs);
        // This record is the tally's last one sent.
        qint64 index = (m_tally.counts.sent - 1) / m_spanWidth;
        if (index >= MaxSpans) {
            // Twice as many records per span, in half as many spans.
            for (int i = 0; i < MaxSpans / 2; ++i) {
                const Span &a = m_spans[2 * i];
                const Span &b = m_spans[2 * i + 1];
                Span merged{a.count + b.count, a.failures + b.failures, a.sumMs + b.sumMs, 0, 0,
                            a.latencyCount + b.latencyCount, a.latencySumMs + b.latencySumMs, 0, 0};
                merged.minMs = a.count == 0 ? b.minMs : (b.count == 0 ? a.minMs : std::min(a.minMs, b.minMs));
                merged.maxMs = std::max(a.maxMs, b.maxMs);
                merged.latencyMinMs = a.latencyCount == 0 ? b.latencyMinMs
                                    : (b.latencyCount == 0 ? a.latencyMinMs : std::min(a.latencyMinMs, b.latencyMinMs));
                merged.latencyMaxMs = std::max(a.latencyMaxMs, b.latencyMaxMs);
                m_spans[i] = merged;
            }
            m_spans.resize(MaxSpans / 2);
            m_spanWidth *= 2;
            index = (m_tally.counts.sent - 1) / m_spanWidth;
        }
        if (index >= m_spans.size())
            m_spans.resize(index + 1);
        Span &span = m_spans[index];
        if (record.rttMs) {
            span.minMs = span.count == 0 ? *record.rttMs : std::min(span.minMs, *record.rttMs);
            span.maxMs = std::max(span.maxMs, *record.rttMs);
            span.sumMs += *record.rttMs;
            ++span.count;
        }
        if (record.latencyMs) {
            span.latencyMinMs = span.latencyCount == 0 ? *record.latencyMs : std::min(span.latencyMinMs, *record.latencyMs);
            span.latencyMaxMs = std::max(span.latencyMaxMs, *record.latencyMs);
            span.latencySumMs += *record.latencyMs;
            ++span.latencyCount;
        }
        // A conformance run's refusals are right answers, not failures.
        if (isFailure(record))
            ++span.failures;
    }
    if (m_once)
        return;
    const qint64 sinceWrite = m_sinceWrite.isValid() ? m_sinceWrite.elapsed() : m_rewriteIntervalMs;
    if (sinceWrite >= m_rewriteIntervalMs)
        write(nullptr, {}, false);
    else if (!m_catchUp.isActive())
        m_catchUp.start(int(std::min<qint64>(m_rewriteIntervalMs - sinceWrite, 24 * 3600 * 1000)));
}

void HtmlReport::finish(const RunFigures &figures, const QStringList &missed, bool passed)
{
    write(&figures, missed, passed);
}

void HtmlReport::write(const RunFigures *figures, const QStringList &missed, bool passed)
{
    m_sinceWrite.start();
    m_catchUp.stop();
    // Whole or not at all, so that a reader never sees half a page; the
    // save is unbuffered so that a full disk is met, and named, in the write.
    // A device or a pipe takes its one page and is closed.
    const std::unique_ptr<QFileDevice> file = m_once ? std::move(m_pipe) : openOutput(m_fileName, PageWay);
    if (!file)
        return;
    QString reason;
    if (!file->isOpen())
        reason = file->errorString();
    else if (writeAll(*file, page(figures, missed, passed), &reason) && !m_once && !commitWhole(*file))
        reason = file->errorString();
    // A save not committed leaves the page before it in place.
    if (!reason.isEmpty())
        fail(m_fileName, reason);
}

QByteArray HtmlReport::page(const RunFigures *figures, const QStringList &missed, bool passed) const
{
    const RunFigures &f = figures ? *figures : m_tally;
    // The writer starts its buffer afresh: the doctype goes in front at the end.
    QByteArray out;
    HtmlPage html(&out);
    html.start(QStringLiteral("html"));
    html.xml.writeAttribute(QStringLiteral("lang"), QStringLiteral("en"));
    head(html, figures, passed);
    runTable(html);
    summaryTable(html, figures, missed);
    if (!f.byExpect.isEmpty())
        byKindTable(html, f.byExpect);
    charts(html, figures);
    failedTable(html);
    rejectedTable(html);
    html.end(); // body
    html.end(); // html
    out += '\n';
    return "<!DOCTYPE html>\n" + out;
}

void HtmlReport::head(HtmlPage &html, const RunFigures *figures, bool passed) const
{
    html.start(QStringLiteral("head"));
    html.xml.writeEmptyElement(QStringLiteral("meta"));
    html.xml.writeAttribute(QStringLiteral("charset"), QStringLiteral("utf-8"));
    html.element(QStringLiteral("title"), m_title);
    html.element(QStringLiteral("style"), Style);
    html.end();
    html.start(QStringLiteral("body"));
    html.element(QStringLiteral("h1"), m_title);

    html.start(QStringLiteral("p"), QStringLiteral("verdict"));
    if (figures && figures->interrupted) {
        html.xml.writeAttribute(QStringLiteral("class"), QStringLiteral("failed"));
        html.xml.writeCharacters(figures->interruptedText());
    } else if (!figures) {
        html.xml.writeAttribute(QStringLiteral("class"), QStringLiteral("running"));
        html.xml.writeCharacters(QStringLiteral("Not finished: the run is still going, or it was cut short. "
                                                "The figures cover the %1 lines handled so far.")
                                     .arg(m_tally.counts.read + m_tally.counts.rejected));
    } else {
        html.xml.writeAttribute(QStringLiteral("class"), passed ? QStringLiteral("passed") : QStringLiteral("failed"));
        html.xml.writeCharacters(passed ? QStringLiteral("Passed") : QStringLiteral("Failed"));
    }
    html.end();
}

void HtmlReport::runTable(HtmlPage &html) const
{
    html.start(QStringLiteral("table"), QStringLiteral("run"));
    const QStringList labels{QStringLiteral("Started (UTC)"), QStringLiteral("Program"), QStringLiteral("Version"),
                             QStringLiteral("Command line"), QStringLiteral("Target"), QStringLiteral("Data file"),
                             QStringLiteral("Format"), QStringLiteral("Manifest")};
    const auto fields = m_run.fields();
    for (qsizetype i = 0; i < fields.size(); ++i) {
        html.start(QStringLiteral("tr"));
        html.element(QStringLiteral("th"), labels.value(i));
        html.element(QStringLiteral("td"), fields[i].second.isEmpty() ? QStringLiteral("none") : fields[i].second,
                     QStringLiteral("t"));
        html.end();
    }
    html.end();
}

void HtmlReport::summaryTable(HtmlPage &html, const RunFigures *figures, const QStringList &missed) const
{
    const RunFigures &f = figures ? *figures : m_tally;
    const RunCounts &counts = f.counts;
    html.start(QStringLiteral("table"), QStringLiteral("summary"));
    html.row(QStringLiteral("Records read"), QString::number(counts.read));
    html.row(QStringLiteral("Sent"), QString::number(counts.sent));
    for (auto [word, count] : replyCounts(counts, f.byExpect))
        html.row(word.replace(0, 1, word.at(0).toUpper()), QString::number(count));
    html.row(QStringLiteral("Unanswered"), QString::number(counts.unanswered));
    html.row(QStringLiteral("Not sent"), QString::number(counts.notSent));
    html.row(QStringLiteral("Lines rejected"), QString::number(counts.rejected));
    if (figures) {
        const QString none = QStringLiteral("none");
        const auto &rtt = figures->rttMs;
        html.row(QStringLiteral("Round trip min ms"), rtt ? milliseconds(rtt->min) : none);
        html.row(QStringLiteral("Round trip median ms"), rtt ? milliseconds(rtt->p50) : none);
        html.row(QStringLiteral("Round trip p90 ms"), rtt ? milliseconds(rtt->p90) : none);
        html.row(QStringLiteral("Round trip p99 ms"), rtt ? milliseconds(rtt->p99) : none);
        html.row(QStringLiteral("Round trip p99.9 ms"), rtt ? milliseconds(rtt->p99_9) : none);
        html.row(QStringLiteral("Round trip max ms"), rtt ? milliseconds(rtt->max) : none);
        // From the intended send time: what a user of the receiver would wait.
        if (const auto &latency = figures->latencyMs) {
            html.row(QStringLiteral("Latency min ms"), milliseconds(latency->min));
            html.row(QStringLiteral("Latency median ms"), milliseconds(latency->p50));
            html.row(QStringLiteral("Latency p90 ms"), milliseconds(latency->p90));
            html.row(QStringLiteral("Latency p99 ms"), milliseconds(latency->p99));
            html.row(QStringLiteral("Latency p99.9 ms"), milliseconds(latency->p99_9));
            html.row(QStringLiteral("Latency max ms"), milliseconds(latency->max));
        }
        html.row(QStringLiteral("Rate, records per second"), num(figures->rate(), 2));
        if (figures->targetRate)
            html.row(QStringLiteral("Target rate, records per second"), num(*figures->targetRate, 2));
        html.row(QStringLiteral("Elapsed s"), num(figures->elapsedSeconds, 3));
    }
    html.end();
    const QStringList met = figures ? figures->thresholdsMet : QStringList();
    if (!missed.isEmpty() || !met.isEmpty()) {
        html.start(QStringLiteral("ul"), QStringLiteral("thresholds"));
        for (const QString &line : met)
            html.element(QStringLiteral("li"), line, QStringLiteral("passed"));
        for (const QString &line : missed)
            html.element(QStringLiteral("li"), line, QStringLiteral("failed"));
        html.end();
    }
}

void HtmlReport::charts(HtmlPage &html, const RunFigures *figures) const
{
    // Times on a log scale, ten bins a decade, and over the run. With
    // --rate the latency from the intended send time too: what a stalled
    // receiver cannot hide.
    const bool latency = (figures && figures->latencyMs) || m_latencies.count() > 0;
    for (const bool fromIntended : {false, true}) {
        if (fromIntended && !latency)
            continue;
        const QString measure = fromIntended ? QStringLiteral("latency") : QStringLiteral("round-trip");
        QList<Column> columns;
        for (const Span &span : m_spans)
            columns.append(fromIntended ? Column{span.latencyCount, span.latencySumMs, span.latencyMinMs,
                                                 span.latencyMaxMs, span.failures}
                                        : Column{span.count, span.sumMs, span.minMs, span.maxMs, span.failures});
        const QString prefix = fromIntended ? QStringLiteral("latency-") : QString();
        html.element(QStringLiteral("h2"), fromIntended ? QStringLiteral("Latency from the intended send time")
                                                        : QStringLiteral("Round-trip times"));
        histogramChart(html, prefix + QStringLiteral("histogram"), measure, fromIntended ? m_latencies : m_roundTrips);
        html.element(QStringLiteral("h2"), fromIntended ? QStringLiteral("Latency over the run")
                                                        : QStringLiteral("Round trip over the run"));
        overRunChart(html, prefix + QStringLiteral("over-run"), measure, columns, m_spanWidth, m_tally.counts.sent);
    }
}

void HtmlReport::failedTable(HtmlPage &html) const
{
    html.element(QStringLiteral("h2"), QStringLiteral("Failed records"));
    if (m_failed.isEmpty()) {
        html.element(QStringLiteral("p"), QStringLiteral("None."));
        return;
    }
    html.start(QStringLiteral("table"), QStringLiteral("failed"));
    html.start(QStringLiteral("tr"));
    for (const QString &heading : {QStringLiteral("Line"), QStringLiteral("Record id"), QStringLiteral("Outcome"),
                                   QStringLiteral("Kind"), QStringLiteral("Sent at"), QStringLiteral("Connection"),
                                   QStringLiteral("Reply or reason")})
        html.element(QStringLiteral("th"), heading);
    html.end();
    // Kept as their exchanges ended, shown in file order.
    QList<OutcomeRecord> failed = m_failed;
    std::stable_sort(failed.begin(), failed.end(),
                     [](const OutcomeRecord &a, const OutcomeRecord &b) { return a.seq < b.seq; });
    for (const OutcomeRecord &record : failed) {
        html.start(QStringLiteral("tr"));
        html.element(QStringLiteral("td"), QString::number(record.seq), QStringLiteral("n"));
        html.element(QStringLiteral("td"), shown(record.id), QStringLiteral("t"));
        html.element(QStringLiteral("td"), outcomeName(record.outcome));
        html.element(QStringLiteral("td"), shown(record.expect));
        html.element(QStringLiteral("td"), isoTime(record.sentAt), QStringLiteral("d"));
        html.element(QStringLiteral("td"), record.connection > 0 ? QString::number(record.connection) : QString(),
                     QStringLiteral("n"));
        html.element(QStringLiteral("td"), record.reply ? shown(*record.reply) : shown(record.reason),
                     QStringLiteral("t"));
        html.end();
    }
    html.end();
    if (m_failedNotShown > 0)
        html.element(QStringLiteral("p"), QStringLiteral("%1 more failed records are not shown here; the JSON Lines "
                                                         "report (--report) lists every record.")
                                              .arg(m_failedNotShown));
}

// The reader's refusals: planned ones with their manifest kind.
void HtmlReport::rejectedTable(HtmlPage &html) const
{
    html.element(QStringLiteral("h2"), QStringLiteral("Rejected lines"));
    if (m_rejected.isEmpty()) {
        html.element(QStringLiteral("p"), QStringLiteral("None."));
        return;
    }
    html.start(QStringLiteral("table"), QStringLiteral("rejected"));
    html.start(QStringLiteral("tr"));
    for (const QString &heading :
         {QStringLiteral("Line"), QStringLiteral("Record id"), QStringLiteral("Kind"), QStringLiteral("Reason")})
        html.element(QStringLiteral("th"), heading);
    html.end();
    for (const OutcomeRecord &record : m_rejected) {
        html.start(QStringLiteral("tr"));
        html.element(QStringLiteral("td"), QString::number(record.seq), QStringLiteral("n"));
        html.element(QStringLiteral("td"), shown(record.id), QStringLiteral("t"));
        html.element(QStringLiteral("td"), record.unplanned ? QStringLiteral("none planned") : shown(record.expect),
                     record.unplanned ? QStringLiteral("fail") : QString());
        html.element(QStringLiteral("td"), shown(record.reason), QStringLiteral("t"));
        html.end();
    }
    html.end();
    if (m_rejectedNotShown > 0)
        html.element(QStringLiteral("p"), QStringLiteral("%1 more rejected lines are not shown here; the JSON Lines "
                                                         "report (--report) lists every one.")
                                              .arg(m_rejectedNotShown));
}
