#pragma once

#include <string>

namespace talviren::web {

// Where Debian's libjs-dygraphs keeps the chart library.
inline constexpr const char* kChartFolder = "/usr/share/javascript/dygraphs";

// The page at /: the one built into the program, with the chart library and its styles put
// inside it from the system's copy in `chartFolder`, so that the page asks nothing of any
// other address. Without them the page still shows everything but the chart, and `warning`
// says why.
std::string webPage(const std::string& chartFolder, std::string& warning);

// The page as built in, with a place for the chart's styles and one for its script.
extern const char* const kPageTemplate;

} // namespace talviren::web
