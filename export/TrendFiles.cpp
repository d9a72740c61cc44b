#include "export/TrendFiles.h"

#include "export/AtomicFile.h"
#include "export/ZipWriter.h"
#include "log/CsvLog.h"
#include "measure/ValueText.h"
#include "power/ApparentPower.h"
#include "time/LocalTime.h"

#include <charconv>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace talviren {

namespace {

constexpr std::size_t kFlushBytes = 1 << 20;

// Calls the progress at most every few thousand readings.
void tell(const WriteProgress& progress, std::size_t done, std::size_t total) {
    if (progress && (done % 8192 == 0 || done == total)) {
        progress(total == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(total));
    }
}

constexpr std::string_view kApparentPowerColumn = "apparent_power_va";
constexpr std::string_view kRealPowerColumn = "power_w";

} // namespace

bool writeReadingsCsv(const ReadingSequence& readings, const std::string& path, std::string& error,
                      const WriteProgress& progress, std::optional<PowerFactor> powerFactor) {
    AtomicFile file(path);
    bool ok = file.open();
    std::string buffer = std::string(csvlog::kHeader) + "," + std::string(kApparentPowerColumn) +
                         (powerFactor ? "," + std::string(kRealPowerColumn) : "") + "\n";
    const std::size_t total = readings.size();
    for (std::size_t i = 0; ok && i < total; ++i) {
        const TimedReading reading = readings.at(i);
        csvlog::appendLine(buffer, reading);
        buffer.pop_back(); // the power columns go before the line's end
        const ApparentPower s = apparentPower(reading.raw);
        buffer += ',';
        if (s.hasValue()) {
            buffer += apparentPowerNumber(s.units);
        }
        if (powerFactor) {
            buffer += ',';
            if (s.hasValue()) {
                buffer += realPowerNumber(s.units, *powerFactor);
            }
        }
        buffer += '\n';
        if (buffer.size() >= kFlushBytes) {
            ok = file.write(buffer);
            buffer.clear();
        }
        tell(progress, i + 1, total);
    }
    ok = ok && file.write(buffer) && file.commit();
    if (!ok) {
        error = file.error();
    }
    return ok;
}

namespace {

// Excel counts days from 1899-12-30 in local time.
class SerialDates {
public:
    double serial(std::int64_t wallMs) {
        return static_cast<double>(wallMs + zone_.offsetMs(wallMs)) / 86'400'000.0 + 25569.0;
    }

private:
    LocalTime zone_;
};

std::string escaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// Each text once, numbered in first-use order.
class SharedStrings {
public:
    std::uint32_t index(std::string_view text) {
        ++uses_;
        const auto it = index_.find(std::string(text));
        if (it != index_.end()) {
            return it->second;
        }
        const auto id = static_cast<std::uint32_t>(texts_.size());
        texts_.emplace_back(text);
        index_.emplace(texts_.back(), id);
        return id;
    }
    std::string xml() const {
        std::string out =
            R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
            "\n"
            R"(<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" count=")" +
            std::to_string(uses_) + "\" uniqueCount=\"" + std::to_string(texts_.size()) + "\">";
        for (const std::string& text : texts_) {
            out += "<si><t>" + escaped(text) + "</t></si>";
        }
        out += "</sst>";
        return out;
    }

private:
    std::vector<std::string> texts_;
    std::unordered_map<std::string, std::uint32_t> index_;
    std::uint64_t uses_ = 0;
};

constexpr char kColumnLetters[] = "ABCDEFGHIJ";
constexpr std::string_view kHeaderNames[] = {"time",  "function", "name1",  "text1",
                                             "name2", "text2",    "value1", "value2"};

// Appends the shortest text that reads back as the same double.
void appendNumber(std::string& out, double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    out.append(text, end);
}

class SheetRows {
public:
    SheetRows(std::string& out, SharedStrings& strings) : out_(out), strings_(strings) {}

    void begin(std::size_t row) {
        row_ = std::to_string(row);
        out_ += "<row r=\"" + row_ + "\">";
    }
    void text(int column, std::string_view text, int style = 0) {
        if (text.empty()) {
            return;
        }
        cell(column, style);
        out_ += " t=\"s\"><v>";
        out_ += std::to_string(strings_.index(text));
        out_ += "</v></c>";
    }
    void number(int column, double value, int style = 0) {
        cell(column, style);
        out_ += "><v>";
        appendNumber(out_, value);
        out_ += "</v></c>";
    }
    void end() { out_ += "</row>"; }

private:
    void cell(int column, int style) {
        out_ += "<c r=\"";
        out_ += kColumnLetters[column];
        out_ += row_;
        out_ += '"';
        if (style) {
            out_ += " s=\"" + std::to_string(style) + "\"";
        }
    }

    std::string& out_;
    SharedStrings& strings_;
    std::string row_;
};

constexpr int kDateStyle = 1;
constexpr int kHeaderStyle = 2;

const char* const kSheetStart =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
    "\n"
    R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)"
    R"(<sheetViews><sheetView workbookViewId="0"><pane ySplit="1" topLeftCell="A2")"
    R"( activePane="bottomLeft" state="frozen"/></sheetView></sheetViews>)"
    R"(<cols><col min="1" max="1" width="24" customWidth="1"/>)"
    R"(<col min="2" max="10" width="11" customWidth="1"/></cols><sheetData>)";
const char* const kSheetEnd = "</sheetData></worksheet>";

std::string contentTypes(std::size_t sheets) {
    std::string out =
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
        "\n"
        R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
        R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
        R"(<Default Extension="xml" ContentType="application/xml"/>)"
        R"(<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>)"
        R"(<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>)"
        R"(<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>)";
    for (std::size_t s = 1; s <= sheets; ++s) {
        out +=
            R"(<Override PartName="/xl/worksheets/sheet)" + std::to_string(s) +
            R"(.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>)";
    }
    return out + "</Types>";
}

const char* const kPackageRels =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
    "\n"
    R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
    R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>)"
    R"(</Relationships>)";

std::string workbook(const std::vector<std::string>& names) {
    std::string out =
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
        "\n"
        R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main")"
        R"( xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets>)";
    for (std::size_t s = 1; s <= names.size(); ++s) {
        const std::string n = std::to_string(s);
        // Meter names are letters, digits, - and _: nothing to escape.
        out += "<sheet name=\"" + names[s - 1] + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
    }
    return out + "</sheets></workbook>";
}

std::string workbookRels(std::size_t sheets) {
    std::string out =
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
        "\n"
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)";
    for (std::size_t s = 1; s <= sheets; ++s) {
        const std::string n = std::to_string(s);
        out +=
            R"(<Relationship Id="rId)" + n +
            R"(" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet)" +
            n + R"(.xml"/>)";
    }
    const std::string styles = std::to_string(sheets + 1);
    const std::string strings = std::to_string(sheets + 2);
    out +=
        R"(<Relationship Id="rId)" + styles +
        R"(" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/>)";
    out +=
        R"(<Relationship Id="rId)" + strings +
        R"(" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/>)";
    return out + "</Relationships>";
}

const char* const kStyles =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
    "\n"
    R"(<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)"
    R"(<numFmts count="1"><numFmt numFmtId="164" formatCode="yyyy\-mm\-dd hh:mm:ss.000"/></numFmts>)"
    R"(<fonts count="2"><font><sz val="11"/><name val="Calibri"/></font>)"
    R"(<font><b/><sz val="11"/><name val="Calibri"/></font></fonts>)"
    R"(<fills count="2"><fill><patternFill patternType="none"/></fill>)"
    R"(<fill><patternFill patternType="gray125"/></fill></fills>)"
    R"(<borders count="1"><border><left/><right/><top/><bottom/><diagonal/></border></borders>)"
    R"(<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>)"
    R"(<cellXfs count="3"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/>)"
    R"(<xf numFmtId="164" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/>)"
    R"(<xf numFmtId="0" fontId="1" fillId="0" borderId="0" xfId="0" applyFont="1"/></cellXfs>)"
    R"(<cellStyles count="1"><cellStyle name="Normal" xfId="0" builtinId="0"/></cellStyles>)"
    R"(</styleSheet>)";

} // namespace

bool writeReadingsWorkbook(const ReadingSequence& readings, const std::string& path,
                           std::string& error, const WriteProgress& progress,
                           std::optional<PowerFactor> powerFactor, std::size_t rowsPerSheet) {
    return writeMetersWorkbook({{"Readings", &readings, powerFactor}}, nullptr, path, error,
                               progress, rowsPerSheet);
}

bool writeMetersWorkbook(const std::vector<MeterReadings>& meters,
                         const std::vector<SumPoint>* total, const std::string& path,
                         std::string& error, const WriteProgress& progress,
                         std::size_t rowsPerSheet) {
    AtomicFile file(path);
    if (!file.open()) {
        error = file.error();
        return false;
    }
    ZipWriter zip(file);
    SharedStrings strings;
    SerialDates dates;
    std::size_t all = total ? total->size() : 0;
    for (const MeterReadings& meter : meters) {
        all += meter.readings->size();
    }
    std::size_t done = 0;
    bool ok = true;
    std::string xml;
    SheetRows rows(xml, strings);
    std::vector<std::string> names;
    const auto flush = [&] {
        if (xml.size() >= kFlushBytes) {
            ok = zip.write(xml);
            xml.clear();
        }
    };
    const auto beginSheet = [&](std::string name) {
        names.push_back(std::move(name));
        ok = ok && zip.begin("xl/worksheets/sheet" + std::to_string(names.size()) + ".xml");
        xml = kSheetStart;
        rows.begin(1);
    };
    const auto endSheet = [&] {
        xml += kSheetEnd;
        ok = ok && zip.write(xml);
    };
    for (const MeterReadings& meter : meters) {
        const std::size_t count = meter.readings->size();
        const std::size_t sheets =
            rowsPerSheet == 0 ? 1
                              : std::max<std::size_t>(1, (count + rowsPerSheet - 1) / rowsPerSheet);
        std::size_t next = 0;
        for (std::size_t sheet = 1; ok && sheet <= sheets; ++sheet) {
            // Past a sheet's rows, a further sheet with the header again: "Readings 2".
            beginSheet(sheet > 1 ? meter.name + " " + std::to_string(sheet) : meter.name);
            for (int c = 0; c < 8; ++c) {
                rows.text(c, kHeaderNames[c], kHeaderStyle);
            }
            rows.text(8, kApparentPowerColumn, kHeaderStyle);
            if (meter.powerFactor) {
                rows.text(9, kRealPowerColumn, kHeaderStyle);
            }
            rows.end();
            const std::size_t last = std::min(count, next + rowsPerSheet);
            for (std::size_t row = 2; ok && next < last; ++next, ++row) {
                const TimedReading reading = meter.readings->at(next);
                const auto symbols = quantitySymbols(reading.raw.function);
                rows.begin(row);
                rows.number(0, dates.serial(reading.wallMs), kDateStyle);
                rows.text(1, std::to_string(reading.raw.function));
                if (symbols) {
                    rows.text(2, symbols->current);
                }
                if (reading.current) {
                    rows.text(3, reading.current->text);
                }
                if (symbols) {
                    rows.text(4, symbols->second);
                }
                if (reading.second) {
                    rows.text(5, reading.second->text);
                }
                if (reading.current && !reading.current->overload) {
                    rows.number(6, reading.current->value());
                }
                if (reading.second && !reading.second->overload) {
                    rows.number(7, reading.second->value());
                }
                if (const ApparentPower s = apparentPower(reading.raw); s.hasValue()) {
                    rows.number(8, s.va());
                    if (meter.powerFactor) {
                        rows.number(9, decimalValue(realPowerNumber(s.units, *meter.powerFactor)));
                    }
                }
                rows.end();
                flush();
                tell(progress, ++done, all);
            }
            endSheet();
        }
    }
    if (ok && total) {
        // The sum over time: when, S and P (where every meter has P).
        beginSheet("total");
        rows.text(0, "time", kHeaderStyle);
        rows.text(1, kApparentPowerColumn, kHeaderStyle);
        rows.text(2, kRealPowerColumn, kHeaderStyle);
        rows.end();
        std::size_t row = 2;
        for (const SumPoint& sum : *total) {
            rows.begin(row++);
            rows.number(0, dates.serial(sum.wallMs), kDateStyle);
            rows.number(1, sum.va());
            if (sum.realPower) {
                // The nearest double to the exact sum, as each meter's P is written.
                rows.number(2, decimalValue(decimalText(*sum.realPower, 10)));
            }
            rows.end();
            flush();
            tell(progress, ++done, all);
        }
        endSheet();
    }
    ok = ok && zip.begin("xl/sharedStrings.xml") && zip.write(strings.xml());
    ok = ok && zip.begin("xl/styles.xml") && zip.write(kStyles);
    ok = ok && zip.begin("xl/workbook.xml") && zip.write(workbook(names));
    ok = ok && zip.begin("xl/_rels/workbook.xml.rels") && zip.write(workbookRels(names.size()));
    ok = ok && zip.begin("_rels/.rels") && zip.write(kPackageRels);
    ok = ok && zip.begin("[Content_Types].xml") && zip.write(contentTypes(names.size()));
    ok = ok && zip.finish();
    if (!ok) {
        error = zip.error().empty() ? file.error() : zip.error();
        return false;
    }
    if (!file.commit()) {
        error = file.error();
        return false;
    }
    return true;
}

} // namespace talviren
