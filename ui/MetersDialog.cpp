#include "ui/MetersDialog.h"

namespace talviren {

namespace {

// Each line read, with its problem; the usable ones checked together as they come.
std::vector<std::pair<std::optional<MeterSource>, QString>> readLines(const QStringList& lines) {
    std::vector<std::pair<std::optional<MeterSource>, QString>> read;
    std::vector<MeterSource> fine;
    for (const QString& line : lines) {
        if (line.trimmed().isEmpty()) {
            read.emplace_back(std::nullopt, QString());
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0) {
            read.emplace_back(
                std::nullopt,
                MetersDialog::tr("a meter is NAME=scan, NAME=COMn or NAME=http://HOST:PORT/"));
            continue;
        }
        MeterParse parsed =
            parseMeter(line.left(equals).toStdString(), line.mid(equals + 1).toStdString());
        if (!parsed.source) {
            read.emplace_back(std::nullopt, QString::fromStdString(parsed.error));
            continue;
        }
        std::vector<MeterSource> withIt = fine;
        withIt.push_back(*parsed.source);
        if (const auto wrong = checkMeters(withIt)) {
            read.emplace_back(std::nullopt, QString::fromStdString(*wrong));
            continue;
        }
        fine.push_back(*parsed.source);
        read.emplace_back(std::move(parsed.source), QString());
    }
    return read;
}

} // namespace

MetersDialog::MetersDialog(const QStringList& lines, QWidget* parent)
    : LinesDialog(
          {tr("Meters"),
           tr("One meter a line: NAME=scan (the window's own meter, as the search finds "
              "it),\nNAME=COMn (a local port), or NAME=http://HOST:PORT/ [token-file PATH] "
              "(a talviren-cli watch --http).\nFor three phases: L1=scan, L2=COM5, "
              "L3=http://cellar.local:8080/"),
           tr("L2=COM5"), tr("Meters"), tr("Meter line")},
          lines, [](const QStringList& all) { return problems(all); }, parent) {
    resize(620, 360);
}

QStringList MetersDialog::problems(const QStringList& lines) {
    QStringList out;
    for (const auto& [source, problem] : readLines(lines)) {
        out << problem;
    }
    return out;
}

std::vector<MeterSource> MetersDialog::usable(const QStringList& lines) {
    std::vector<MeterSource> out;
    for (auto& [source, problem] : readLines(lines)) {
        if (source) {
            out.push_back(std::move(*source));
        }
    }
    return out.empty() ? defaultMeters() : out;
}

} // namespace talviren
