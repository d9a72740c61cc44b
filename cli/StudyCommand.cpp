#include "cli/StudyCommand.h"

#include "cli/CliOptions.h"
#include "export/AtomicFile.h"
#include "report/StudyReport.h"
#include "study/StudyOutputs.h"

#include <cstdio>
#include <memory>

namespace talviren::cli {

namespace {

void say(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

} // namespace

int runStudyCommand(const StudyRequest& request) {
    const study::StudyOutcome outcome = study::runStudy(request.meters, request.settings);
    if (!outcome.result) {
        say("talviren-cli: " + outcome.error + "\n");
        return kUsage;
    }
    const study::StudyResult& result = *outcome.result;
    // Every output is made first, then all are put in place: none is left half-written.
    std::vector<std::pair<std::string, std::string>> outputs; // path, content
    bool toStandardOutput = false;
    if (!request.json.empty()) {
        outputs.emplace_back(request.json, study::studyJson(result));
    }
    if (!request.csv.empty()) {
        outputs.emplace_back(request.csv, study::studyCsv(result));
    }
    if (!request.report.empty()) {
        QByteArray pdf;
        std::string error;
        if (!report::renderStudyReport(result, pdf, error)) {
            say("talviren-cli: cannot write " + request.report + ": " + error + "\n");
            return kFailure;
        }
        outputs.emplace_back(request.report, pdf.toStdString());
    }
    std::vector<std::unique_ptr<AtomicFile>> files;
    for (const auto& [path, content] : outputs) {
        if (path == "-") {
            toStandardOutput = true;
            continue;
        }
        auto file = std::make_unique<AtomicFile>(path);
        if (!file->open() || !file->write(content)) {
            say("talviren-cli: cannot write " + path + ": " + file->error() + "\n");
            return kFailure;
        }
        files.push_back(std::move(file));
    }
    for (const auto& file : files) {
        if (!file->commit()) {
            say("talviren-cli: cannot write: " + file->error() + "\n");
            return kFailure;
        }
    }
    // The summary goes where a person reads it: standard error when standard output is data.
    const std::string summary = study::summaryText(result);
    if (toStandardOutput) {
        say(summary);
        for (const auto& [path, content] : outputs) {
            if (path == "-") {
                std::fwrite(content.data(), 1, content.size(), stdout);
            }
        }
        std::fflush(stdout);
    } else {
        std::fputs(summary.c_str(), stdout);
    }
    return kOk;
}

} // namespace talviren::cli
