#include "web/WebPage.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace talviren::web {

namespace {

bool readFile(const std::string& path, std::string& text, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream content;
    content << file.rdbuf();
    text = content.str();
    return true;
}

void replace(std::string& page, const std::string& marker, const std::string& text) {
    if (const auto at = page.find(marker); at != std::string::npos) {
        page.replace(at, marker.size(), text);
    }
}

// Inside a <script> or <style> element nothing may close it early; the source map is not
// served, so the line asking for it goes.
std::string inlined(std::string text, const char* closing) {
    if (const auto map = text.rfind("\n//# sourceMappingURL="); map != std::string::npos) {
        text.erase(map + 1);
    }
    if (const auto map = text.rfind("/*# sourceMappingURL="); map != std::string::npos) {
        text.erase(map);
    }
    const std::string tag = std::string("</") + closing;
    for (auto at = text.find(tag); at != std::string::npos; at = text.find(tag, at)) {
        text.replace(at, 2, "<\\/");
    }
    return text;
}

} // namespace

std::string webPage(const std::string& chartFolder, std::string& warning) {
    std::string page = kPageTemplate;
    std::string script;
    std::string style;
    std::string error;
    if (readFile(chartFolder + "/dygraph.min.js", script, error) &&
        readFile(chartFolder + "/dygraph.min.css", style, error)) {
        replace(page, "/*chart-style*/", inlined(style, "style"));
        replace(page, "/*chart-script*/", inlined(script, "script"));
    } else {
        warning = "the web page has no chart: " + error + " (install libjs-dygraphs)";
    }
    return page;
}

} // namespace talviren::web
