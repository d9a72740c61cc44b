#include "report/StudyReport.h"

#include "log/CsvLog.h"
#include "report/StudyCharts.h"
#include "study/StudyOutputs.h"
#include "time/LocalTime.h"

#include <qcustomplot.h>

#include <QBuffer>
#include <QFileInfo>
#include <QPdfWriter>

#include <cstdio>
#include <functional>

namespace talviren::report {

using namespace study;

namespace {

// A4 at 96 dots an inch: the page in the pixels the charts are laid out in.
constexpr int kPageWidth = 794, kPageHeight = 1123, kMargin = 56;
constexpr int kWidth = kPageWidth - 2 * kMargin;

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string duration(double seconds) {
    if (seconds < 60) {
        return fixed(seconds, seconds < 10 ? 1 : 0) + " s";
    }
    const auto minutes = static_cast<long long>(seconds / 60 + 0.5);
    return minutes >= 60
               ? std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) + " min"
               : std::to_string(minutes) + " min";
}

// The days of a meter's own span under the coverage, runs of unmeasured days as one.
std::string lowDays(const MeterStudy& m, double minCoverage) {
    if (!m.firstMs) {
        return "none measured";
    }
    const std::int64_t first = localDay(*m.firstMs), last = localDay(*m.lastMs);
    std::string out;
    const auto add = [&](const std::string& text) { out += (out.empty() ? "" : ", ") + text; };
    for (std::size_t d = 0; d < m.days.size(); ++d) {
        const Day& day = m.days[d];
        if (day.day < first || day.day > last || day.coverage >= minCoverage) {
            continue;
        }
        if (day.measuredS == 0) {
            std::size_t e = d;
            while (e + 1 < m.days.size() && m.days[e + 1].measuredS == 0 &&
                   m.days[e + 1].day <= last) {
                ++e;
            }
            add(e > d ? dateText(day.day) + " to " + dateText(m.days[e].day) + " (none measured)"
                      : dateText(day.day) + " (none measured)");
            d = e;
        } else {
            add(dateText(day.day) + " (" + fixed(day.coverage * 100, 0) + " %)");
        }
    }
    return out.empty() ? "none" : out;
}

// Lays the report out page after page, top to bottom.
class Pages {
public:
    Pages(QPdfWriter& pdf, QCPPainter& painter) : pdf_(pdf), painter_(painter) {}

    void heading(const QString& text, int size = 14) {
        room(size * 3);
        QFont font(QStringLiteral("Sans"), size, QFont::Bold);
        line(text, font, QColor(0x21, 0x21, 0x21));
        y_ += 4;
    }
    // A line of text, in colour; long lines wrap.
    void line(const QString& text, const QFont& font = QFont(QStringLiteral("Sans"), 9),
              const QColor& colour = Qt::black, int indent = 0, int right = 0) {
        painter_.setFont(font);
        painter_.setPen(colour);
        const int width = kWidth - indent - right;
        const QRect bounds =
            painter_.boundingRect(QRect(kMargin + indent, 0, width, 2000), Qt::TextWordWrap, text);
        room(bounds.height());
        painter_.drawText(QRect(kMargin + indent, y_, width, bounds.height()), Qt::TextWordWrap,
                          text);
        y_ += bounds.height() + 2;
    }
    void gap(int pixels) { y_ += pixels; }
    // A boxed panel of lines, framed in a colour.
    void panel(const std::vector<std::pair<QString, QColor>>& lines, const QColor& frame) {
        const QFont font(QStringLiteral("Sans"), 10);
        painter_.setFont(font);
        int height = 16;
        for (const auto& [text, colour] : lines) {
            height += painter_.boundingRect(QRect(0, 0, kWidth - 24, 2000), Qt::TextWordWrap, text)
                          .height() +
                      4;
        }
        room(height);
        const int top = y_;
        painter_.setPen(QPen(frame, 2));
        painter_.setBrush(Qt::NoBrush);
        painter_.drawRect(kMargin, top, kWidth, height);
        y_ += 8;
        for (const auto& [text, colour] : lines) {
            line(text, font, colour, 12, 12);
        }
        y_ = top + height + 10;
    }
    // A chart of `height` drawn by `draw`.
    void chart(int height, const std::function<void(QCustomPlot&)>& draw) {
        room(height);
        QCustomPlot plot;
        plot.resize(kWidth, height);
        plot.setFont(QFont(QStringLiteral("Sans"), 8));
        draw(plot);
        plot.replot(QCustomPlot::rpImmediateRefresh);
        painter_.save();
        painter_.translate(kMargin, y_);
        plot.toPainter(&painter_, kWidth, height);
        painter_.restore();
        y_ += height + 10;
    }
    // A table: the first row its heading.
    void table(const std::vector<std::vector<QString>>& rows, const std::vector<int>& widths) {
        const QFont font(QStringLiteral("Sans"), 8);
        const QFont bold(QStringLiteral("Sans"), 8, QFont::Bold);
        for (std::size_t r = 0; r < rows.size(); ++r) {
            room(16);
            painter_.setFont(r == 0 ? bold : font);
            painter_.setPen(Qt::black);
            int x = kMargin;
            for (std::size_t c = 0; c < rows[r].size() && c < widths.size(); ++c) {
                painter_.drawText(QRect(x, y_, widths[c], 14), Qt::AlignLeft | Qt::AlignVCenter,
                                  rows[r][c]);
                x += widths[c];
            }
            y_ += 15;
        }
        y_ += 8;
    }
    void newPage() {
        pdf_.newPage();
        y_ = kMargin;
        ++pages_;
    }
    int pages() const { return pages_; }

private:
    // Starts a new page unless `height` still fits on this one.
    void room(int height) {
        if (y_ + height > kPageHeight - kMargin && y_ > kMargin) {
            newPage();
        }
    }

    QPdfWriter& pdf_;
    QCPPainter& painter_;
    int y_ = kMargin;
    int pages_ = 1;
};

void summary(Pages& pages, const StudyResult& r) {
    pages.heading(QStringLiteral("Load study"), 18);
    std::string settings = dateText(r.firstDay) + " to " + dateText(r.lastDay) + " \u00B7 " +
                           intervalName(r.settings.intervalS) + " intervals \u00B7 minimum " +
                           "coverage " + fixed(r.settings.minCoverage * 100, 0) + " %";
    if (r.settings.powerFactor) {
        settings += " \u00B7 P at power factor " + r.settings.powerFactor->text();
    }
    pages.line(q(settings));
    pages.gap(8);
    const auto summaries = meterSummaries(r);
    for (std::size_t k = 0; k < summaries.size(); ++k) {
        const MeterSummary& s = summaries[k];
        const MeterStudy& m = r.meters[k];
        pages.heading(q(s.name + ": " + s.period + ", " + s.days), 11);
        for (const std::string* text : {&s.peak, &s.slidingPeak, &s.loadFactor, &s.energy}) {
            pages.line(q(*text), QFont(QStringLiteral("Sans"), 9), Qt::black, 12);
        }
        std::string files = std::to_string(m.files.size()) +
                            (m.files.size() == 1 ? " file" : " files") + ", " +
                            std::to_string(m.readings) + " readings";
        if (m.skippedLines > 0) {
            files += ", " + std::to_string(m.skippedLines) + " lines that could not be read";
        }
        if (m.duplicates > 0) {
            files += ", " + std::to_string(m.duplicates) + " readings given twice, counted once";
        }
        pages.line(q(files), QFont(QStringLiteral("Sans"), 8), QColor(0x55, 0x55, 0x55), 12);
    }
    if (r.total) {
        pages.heading(QStringLiteral("Total"), 11);
        for (const std::string& line : {imbalanceLine(r)}) {
            pages.line(q(line), QFont(QStringLiteral("Sans"), 9), Qt::black, 12);
        }
        const Peak& p = r.total->peak.apparent;
        if (p.value) {
            pages.line(q("Peak S " + intervalName(r.settings.intervalS) + " " +
                         fixed(*p.value / 1000, 3) + " kVA at " + whenText(p.startMs)),
                       QFont(QStringLiteral("Sans"), 9), Qt::black, 12);
        }
    }
    if (r.nec) {
        pages.gap(8);
        pages.heading(QStringLiteral("NEC 220.87"), 11);
        // Green: passes on a recording that qualifies; amber: passes on one that does not; red:
        // does not pass.
        const QColor verdict = !r.nec->passes     ? QColor(0xc6, 0x28, 0x28)
                               : r.nec->qualifies ? QColor(0x2e, 0x7d, 0x32)
                                                  : QColor(0xef, 0x6c, 0x00);
        std::vector<std::pair<QString, QColor>> lines = {{q(necLine(r)), verdict}};
        for (const std::string& note : necNotes(r)) {
            lines.emplace_back(q(note), note.starts_with("The recording")
                                            ? QColor(0xc6, 0x28, 0x28)
                                            : QColor(0x44, 0x44, 0x44));
        }
        pages.panel(lines, verdict);
    }
}

void charts(Pages& pages, const StudyResult& r) {
    pages.newPage();
    pages.heading(QStringLiteral("Demand over time"));
    pages.line(q("Interval means of the current as steps, the highest sliding window starting in "
                 "each as a lighter line" +
                 std::string(r.total ? ", the total S on the right" : "") + "."));
    pages.chart(330, [&](QCustomPlot& plot) { drawDemand(plot, r); });
    pages.heading(QStringLiteral("Daily energy"));
    pages.line(QStringLiteral("Measured, never extrapolated: a day with nothing measured has no "
                              "bar."));
    pages.chart(260, [&](QCustomPlot& plot) { drawDailyEnergy(plot, r); });
    pages.newPage();
    for (const MeterStudy& m : r.meters) {
        pages.heading(q("Average day: " + m.name));
        pages.chart(230, [&](QCustomPlot& plot) { drawAverageDay(plot, m); });
    }
    pages.heading(QStringLiteral("Duration curve"));
    pages.line(QStringLiteral("For how many hours the interval mean of the current stood at or "
                              "above each value."));
    pages.chart(260, [&](QCustomPlot& plot) { drawDurationCurve(plot, r); });
}

void tables(Pages& pages, const StudyResult& r) {
    pages.newPage();
    pages.heading(QStringLiteral("Top peaks"));
    for (const MeterStudy& m : r.meters) {
        pages.line(q(m.name), QFont(QStringLiteral("Sans"), 9, QFont::Bold));
        std::vector<std::vector<QString>> rows = {
            {QStringLiteral("start"), QStringLiteral("current"), QStringLiteral("highest"),
             QStringLiteral("S"), QStringLiteral("coverage")}};
        for (const std::size_t i : m.top) {
            const Interval& in = m.intervals[i];
            rows.push_back({q(csvlog::timeField(in.startMs).substr(0, 16).replace(10, 1, " ")),
                            q(fixed(*in.current, 2) + " A"),
                            in.maxCurrent ? q(fixed(*in.maxCurrent, 2) + " A") : QString(),
                            in.apparent ? q(fixed(*in.apparent / 1000, 3) + " kVA") : QString(),
                            q(fixed(in.coverage * 100, 1) + " %")});
        }
        pages.table(rows, {170, 100, 100, 110, 90});
    }
    pages.heading(QStringLiteral("Coverage and gaps"));
    for (const MeterStudy& m : r.meters) {
        std::string line = m.name + ": " + fixed(m.coverage * 100, 1) +
                           " % of the time from its first reading to its last measured";
        pages.line(q(line), QFont(QStringLiteral("Sans"), 9, QFont::Bold));
        pages.line(q("Days under " + fixed(r.settings.minCoverage * 100, 0) +
                     " %: " + lowDays(m, r.settings.minCoverage)),
                   QFont(QStringLiteral("Sans"), 8), Qt::black, 12);
        std::vector<std::vector<QString>> rows = {
            {QStringLiteral("longest gaps, from"), QStringLiteral("length")}};
        for (const MeterMinutes::Gap& gap : m.gaps) {
            rows.push_back({q(csvlog::timeField(gap.fromMs).substr(0, 19).replace(10, 1, " ")),
                            q(duration(static_cast<double>(gap.lengthMs) / 1000.0))});
        }
        if (rows.size() > 1) {
            pages.table(rows, {170, 120});
        }
    }
}

} // namespace

bool renderStudyReport(const StudyResult& result, QByteArray& pdf, std::string& error) {
    QBuffer buffer(&pdf);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setCreator(QStringLiteral("talviren"));
    writer.setTitle(QStringLiteral("Load study"));
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setResolution(96);
    QCPPainter painter;
    if (!painter.begin(&writer)) {
        error = "the PDF cannot be drawn";
        return false;
    }
    painter.setMode(QCPPainter::pmVectorized);
    painter.setMode(QCPPainter::pmNoCaching);
    painter.setMode(QCPPainter::pmNonCosmetic);
    Pages pages(writer, painter);
    summary(pages, result);
    charts(pages, result);
    tables(pages, result);
    if (!painter.end()) {
        error = "the PDF cannot be finished";
        return false;
    }
    return true;
}

} // namespace talviren::report
