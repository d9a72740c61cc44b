#pragma once

#include "study/LoadStudy.h"

#include <string>

namespace talviren {

// The intervals of a study as CSV (as talviren-cli study --csv writes them), whole or not at
// all; false with `error` when the file cannot be written.
bool writeStudyCsv(const study::StudyResult& result, const std::string& path, std::string& error);

// The intervals as a workbook: a sheet per meter (start, then the interval's figures), and one
// "total" with several meters; whole or not at all.
bool writeStudyWorkbook(const study::StudyResult& result, const std::string& path,
                        std::string& error);

} // namespace talviren
