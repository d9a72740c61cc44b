#include "cli/StudyOptions.h"

#include "meters/MeterSource.h"

#include <map>
#include <set>

namespace talviren::cli {

namespace {

std::string quoted(const QString& text) {
    return "'" + text.toStdString() + "'";
}

} // namespace

std::string parseStudyArguments(const QStringList& arguments, StudyRequest& request) {
    study::StudySettings& s = request.settings;
    std::map<std::string, std::string> given; // option, value
    std::vector<study::MeterFiles>& meters = request.meters;
    std::set<std::string> names;
    const std::set<std::string> valued = {
        "--meter",  "--interval", "--min-coverage", "--power-factor", "--rating", "--new-load",
        "--demand", "--from",     "--to",           "--json",         "--csv",    "--report"};
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString argument = arguments[i];
        if (!argument.startsWith(QStringLiteral("--")) || argument == QLatin1String("--")) {
            if (meters.empty()) {
                meters.push_back({"log", {}});
                names.insert("log");
            }
            meters.back().files.push_back(argument.toStdString());
            continue;
        }
        std::string option = argument.toStdString();
        std::string value;
        const auto equals = option.find('=');
        const bool inline_ = equals != std::string::npos;
        if (inline_) {
            value = option.substr(equals + 1);
            option.resize(equals);
        }
        if (!valued.contains(option)) {
            return "study: unknown option " + quoted(argument);
        }
        if (!inline_) {
            if (i + 1 >= arguments.size()) {
                return "study: " + option + " needs a value";
            }
            value = arguments[++i].toStdString();
        }
        if (option == "--meter") {
            if (!isMeterName(value) && value != "log") {
                return "study: --meter takes a name of letters, digits, - and _, not '" + value +
                       "'";
            }
            if (!names.insert(value).second) {
                return "study: meter " + value + " is given twice";
            }
            meters.push_back({value, {}});
            continue;
        }
        if (given.contains(option)) {
            return "study: " + option + " is given twice";
        }
        given[option] = value;
    }
    if (meters.empty()) {
        return "study: no log given: talviren-cli study [--meter NAME] FILE...";
    }
    for (const study::MeterFiles& meter : meters) {
        if (meter.files.empty()) {
            return "study: meter " + meter.name + " has no files";
        }
    }
    const auto has = [&](const char* option) { return given.contains(option); };
    if (has("--interval")) {
        const auto seconds = study::parseInterval(given["--interval"]);
        if (!seconds) {
            return "study: --interval takes 1m, 5m, 10m, 15m, 30m or 1h, not '" +
                   given["--interval"] + "'";
        }
        s.intervalS = *seconds;
    }
    if (has("--min-coverage")) {
        const auto coverage = study::parseCoverage(given["--min-coverage"]);
        if (!coverage) {
            return "study: --min-coverage takes a share above 0 and at most 100%, such as 90%, "
                   "not '" +
                   given["--min-coverage"] + "'";
        }
        s.minCoverage = *coverage;
    }
    if (has("--power-factor")) {
        s.powerFactor = parsePowerFactor(given["--power-factor"]);
        if (!s.powerFactor) {
            return "study: --power-factor " + powerFactorRefusal(given["--power-factor"]);
        }
    }
    if (has("--rating")) {
        const auto rating = study::parseAmperes(given["--rating"]);
        if (!rating || *rating <= 0) {
            return "study: --rating takes the service's rating in amperes, such as 200A, not '" +
                   given["--rating"] + "'";
        }
        s.ratingA = rating;
    }
    for (const char* option : {"--new-load", "--demand"}) {
        if (has(option) && !has("--rating")) {
            return std::string("study: ") + option + " needs --rating AMPERES";
        }
    }
    if (has("--new-load")) {
        const auto load = study::parseAmperes(given["--new-load"]);
        if (!load) {
            return "study: --new-load takes amperes, such as 48A, not '" + given["--new-load"] +
                   "'";
        }
        s.newLoadA = *load;
    }
    if (has("--demand")) {
        if (given["--demand"] == "sliding") {
            s.demand = study::Demand::Sliding;
        } else if (given["--demand"] == "block") {
            s.demand = study::Demand::Block;
        } else {
            return "study: --demand takes sliding or block, not '" + given["--demand"] + "'";
        }
    }
    for (const auto& [option, into] : {std::pair{"--from", &s.fromDay}, {"--to", &s.toDay}}) {
        if (has(option)) {
            *into = study::parseDay(given[option]);
            if (!*into) {
                return std::string("study: ") + option + " takes a date such as 2026-01-12, not '" +
                       given[option] + "'";
            }
        }
    }
    if (s.fromDay && s.toDay && *s.fromDay > *s.toDay) {
        return "study: --from " + given["--from"] + " comes after --to " + given["--to"];
    }
    for (const char* option : {"--json", "--csv", "--report"}) {
        if (has(option) && given[option].empty()) {
            return std::string("study: ") + option + " needs a file name";
        }
    }
    request.json = given["--json"];
    request.csv = given["--csv"];
    request.report = given["--report"];
    if (request.report == "-" || (request.csv == "-" && request.json == "-")) {
        return "study: only one output can go to standard output, and a report needs a file";
    }
    return {};
}

} // namespace talviren::cli
