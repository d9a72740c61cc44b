#pragma once

#include "records/RecordTable.h"

#include <string>

namespace talviren {

// The record table as a fixed-column text file (UTF-8, columns counted in characters):
// cells 0 to 3 of every row, the later ones tabbed to columns 20, 40, 60 on even rows and to
// 19, 39, 59 less the first cell's length on odd rows. A tab to a column already passed
// breaks the line (CR LF) and indents; the file does not end with a line break.
std::string recordTableText(const RecordTable& table);

// The captions of the live view at one moment: the two quantity names and value texts.
struct RealtimeCaptions {
    std::string names[2];
    std::string values[2];
};

// The live view as two lines: five blanks, the quantity name, five blanks, the value, CR LF.
std::string realtimeText(const RealtimeCaptions& captions);

} // namespace talviren
