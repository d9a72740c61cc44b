# Writes the page template into a C++ source: cmake -DINPUT=page.html -DOUTPUT=file.cpp -P ...
file(READ "${INPUT}" content)
file(WRITE "${OUTPUT}" "// Made from web/page.html at build time.\n#include \"web/WebPage.h\"\n\n"
  "namespace talviren::web {\n\nconst char* const kPageTemplate = R\"talviren_page(${content})talviren_page\";\n\n"
  "} // namespace talviren::web\n")
