#pragma once

#include "study/LoadStudy.h"

#include <QByteArray>

#include <string>

namespace talviren::report {

// The load study as a document for a client, a PDF whose charts are vectors and whose text
// can be selected and searched: a summary page with the 220.87 panel when asked, demand over
// time, daily energy, the average weekday and weekend, the duration curve, the top peaks, and
// coverage and gaps. Needs a QApplication (the charts are QCustomPlot's). False, with `error`,
// when it cannot be drawn.
bool renderStudyReport(const study::StudyResult& result, QByteArray& pdf, std::string& error);

} // namespace talviren::report
