#include "log/CsvLogReader.h"

#include "log/CsvLog.h"
#include "log/LogFile.h"
#include "measure/ReadingTexts.h"
#include "measure/ValueText.h"
#include "time/TimeReader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <deque>
#include <future>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>

namespace talviren {

namespace {

// A log's eight columns, and the power columns a Trend save adds after them.
constexpr std::size_t kLogColumns = 8;
constexpr std::string_view kPowerColumns[] = {"apparent_power_va", "power_w"};
constexpr std::size_t kColumns = kLogColumns + std::size(kPowerColumns);
using Fields = std::array<std::string_view, kColumns>;

// Bytes of a word equal to `c`: 0x80 at each, exactly (no borrow reaches a neighbour).
inline std::uint64_t bytesEqual(std::uint64_t word, char c) {
    const std::uint64_t v = word ^ (0x0101010101010101ULL * static_cast<unsigned char>(c));
    return ~(((v & 0x7F7F7F7F7F7F7F7FULL) + 0x7F7F7F7F7F7F7F7FULL) | v | 0x7F7F7F7F7F7F7F7FULL);
}

// Splits one record (RFC 4180) off the front of `text`; quoted fields are unquoted into
// `scratch`. False when the record has not exactly `columns` fields.
bool nextRecord(std::string_view& text, Fields& fields, std::array<std::string, kColumns>& scratch,
                std::size_t columns) {
    // Nearly every line holds no quote: its fields are what lies between the commas, found in
    // one pass over the line, eight bytes at a time (the line's end, its commas and any quote
    // at once).
    if (text.empty()) {
        return false; // no record at all
    }
    const char* begin = text.data();
    const char* limit = begin + text.size();
    const char* lineEnd = nullptr;
    bool quote = false;
    std::size_t count = 0;
    const char* field = begin;
    const auto comma = [&](const char* at) {
        if (count < kColumns) {
            fields[count] = std::string_view(field, static_cast<std::size_t>(at - field));
        }
        ++count;
        field = at + 1;
    };
    const char* p = begin;
    if constexpr (std::endian::native == std::endian::little) {
        for (; p + 8 <= limit; p += 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            std::uint64_t commas = bytesEqual(word, ',');
            const std::uint64_t newline = bytesEqual(word, '\n');
            std::uint64_t quotes = bytesEqual(word, '"');
            if (newline) {
                // Only what lies before the line's end belongs to it.
                const int at = __builtin_ctzll(newline) / 8;
                const std::uint64_t before = at == 0 ? 0 : ~std::uint64_t{0} >> (64 - 8 * at);
                commas &= before;
                quotes &= before;
                lineEnd = p + at;
            }
            if (quotes) {
                quote = true;
                break;
            }
            for (; commas; commas &= commas - 1) {
                comma(p + __builtin_ctzll(commas) / 8);
            }
            if (lineEnd) {
                break;
            }
        }
    }
    for (; !lineEnd && !quote && p < limit; ++p) {
        if (*p == '\n') {
            lineEnd = p;
        } else if (*p == '"') {
            quote = true;
        } else if (*p == ',') {
            comma(p);
        }
    }
    if (!quote) {
        const char* end = lineEnd ? lineEnd : limit;
        const char* stop = end > begin && end[-1] == '\r' ? end - 1 : end;
        if (count < kColumns) {
            fields[count] =
                std::string_view(field, static_cast<std::size_t>(std::max(stop, field) - field));
        }
        ++count;
        text.remove_prefix(static_cast<std::size_t>((lineEnd ? lineEnd + 1 : end) - begin));
        return count == columns;
    }
    // A quote: the whole record again, by RFC 4180.
    count = 0;
    std::size_t i = 0;
    bool ok = true;
    while (true) {
        std::string_view field;
        if (i < text.size() && text[i] == '"') {
            std::string& unquoted = scratch[count < kColumns ? count : 0];
            unquoted.clear();
            ++i;
            while (i < text.size()) {
                if (text[i] == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"') {
                        unquoted += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                unquoted += text[i++];
            }
            field = unquoted;
            if (i < text.size() && text[i] != ',' && text[i] != '\n' && text[i] != '\r') {
                ok = false; // text after the closing quote
                while (i < text.size() && text[i] != ',' && text[i] != '\n') {
                    ++i;
                }
            }
        } else {
            const std::size_t start = i;
            while (i < text.size() && text[i] != ',' && text[i] != '\n') {
                ++i;
            }
            std::size_t end = i;
            if (end > start && text[end - 1] == '\r') {
                --end;
            }
            field = text.substr(start, end - start);
        }
        if (count < kColumns) {
            fields[count] = field;
        }
        ++count;
        if (i < text.size() && text[i] == ',') {
            ++i;
            continue;
        }
        if (i < text.size() && text[i] == '\r') {
            ++i;
        }
        if (i < text.size() && text[i] == '\n') {
            ++i;
        }
        break;
    }
    text.remove_prefix(i);
    return ok && count == columns;
}

// Whether the value column is the text's own number: a text the reading was read from, in A or
// V (not mA or kΩ), writes its value in the base unit already, with "," for "." in a comma
// locale. Most lines agree so, without reading the number again.
bool valueIsTheTextsNumber(std::string_view text, std::string_view value) {
    if (text.size() != value.size() + 1 || (text.back() != 'A' && text.back() != 'V') ||
        (text.size() > 1 && (text[text.size() - 2] < '0' || text[text.size() - 2] > '9'))) {
        return false;
    }
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (text[i] != value[i] && !(text[i] == ',' && value[i] == '.')) {
            return false;
        }
    }
    return true;
}

// The reading of a line's fields, into `read`; false when the line is no reading. (Filled in
// place: an optional handed back goes through memory, and the load after it stalls.)
bool readingOf(const Fields& f, MeterReading& read) {
    const auto function = digits(f[1]);
    if (!function || *function > 255 || (f[1].size() > 1 && f[1][0] == '0')) {
        return false;
    }
    const auto code = static_cast<std::uint8_t>(*function);
    const auto symbols = quantitySymbols(code);
    if (f[2] != (symbols ? symbols->current : std::string_view()) ||
        f[4] != (symbols ? symbols->second : std::string_view())) {
        return false;
    }
    return readingFromTexts(code, f[3], f[5], read) &&
           (valueIsTheTextsNumber(f[3], f[6]) || plainValueAgrees(f[6], currentNumber(read))) &&
           (valueIsTheTextsNumber(f[5], f[7]) || plainValueAgrees(f[7], secondNumber(read)));
}

// The first line of `text` as a message may show it: quoted, at most 60 characters, what is no
// printable ASCII as \xHH.
std::string shownLine(std::string_view text) {
    std::string shown = "\"";
    for (std::size_t i = 0; i < text.size() && text[i] != '\n' && text[i] != '\r'; ++i) {
        if (shown.size() > 60) {
            shown += "...";
            break;
        }
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7f) {
            shown += static_cast<char>(c);
        } else {
            static constexpr char kHex[] = "0123456789abcdef";
            shown += {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
        }
    }
    return shown + "\"";
}

} // namespace

LogReadResult readCsvLogText(std::string_view text, LogReadingSink& sink) {
    LogReadResult result;
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3); // a byte-order mark from an editor
    }
    Fields fields;
    std::array<std::string, kColumns> scratch;
    // The log's header, perhaps with the power columns of a Trend save (their values are not
    // read: power always comes from the quantities).
    std::size_t columns = 0;
    for (std::size_t count = kLogColumns; count <= kColumns && columns == 0; ++count) {
        std::string_view rest = text;
        bool headerOk = nextRecord(rest, fields, scratch, count);
        std::size_t column = 0;
        for (std::string_view name :
             {"time", "function", "name1", "text1", "name2", "text2", "value1", "value2"}) {
            headerOk = headerOk && fields[column++] == name;
        }
        for (; headerOk && column < count; ++column) {
            headerOk = fields[column] == kPowerColumns[column - kLogColumns];
        }
        if (headerOk) {
            columns = count;
            text = rest;
        }
    }
    if (columns == 0) {
        result.error = "its first line, " + shownLine(text) +
                       ", is not the header of a talviren log (" + std::string(csvlog::kHeader) +
                       ")";
        return result;
    }
    result.isLog = true;
    // What a power cut leaves where the file's size reached the disk and its data did not.
    while (!text.empty() && text.back() == '\0') {
        text.remove_suffix(1);
    }
    TimeReader times;
    while (!text.empty()) {
        if (text[0] == '\n' || (text[0] == '\r' && text.size() > 1 && text[1] == '\n')) {
            text.remove_prefix(text[0] == '\n' ? 1 : 2); // blank lines are no readings
            continue;
        }
        const bool complete = nextRecord(text, fields, scratch, columns);
        std::int64_t wallMs = 0;
        MeterReading reading;
        if (!complete || !times.read(fields[0], wallMs) || !readingOf(fields, reading)) {
            ++result.skipped;
            continue;
        }
        sink.reading(wallMs, reading, fields[3], fields[5]);
        ++result.readings;
    }
    return result;
}

namespace {

// Reads a log file into `sink`, the error naming the file.
LogReadResult readFile(const LogFile& file, LogReadingSink& sink) {
    LogReadResult result;
    if (!file.error().empty()) {
        result.error = file.error();
        return result;
    }
    result = readCsvLogText(file.text(), sink);
    if (!result.isLog) {
        result.error = file.path() + " is no talviren log: " + result.error;
    }
    return result;
}

// The time of a log's first reading, read from its first lines; none when no line is read
// there (the file is still checked whole when it is read).
std::optional<std::int64_t> firstReadingTime(std::string_view text) {
    struct First : LogReadingSink {
        std::optional<std::int64_t> wallMs;
        void reading(std::int64_t ms, const MeterReading&, std::string_view,
                     std::string_view) override {
            if (!wallMs) {
                wallMs = ms;
            }
        }
    } first;
    text = text.substr(0, 4096);
    if (const std::size_t end = text.rfind('\n'); end != std::string_view::npos) {
        text = text.substr(0, end + 1);
    }
    readCsvLogText(text, first);
    return first.wallMs;
}

// One reading of a log, read on a worker thread: its texts kept whole, as a quoted field's
// text lives only until the next line is read.
struct ParsedLine {
    std::int64_t wallMs = 0;
    MeterReading reading;
    std::array<std::uint8_t, 2> length{};
    std::array<std::array<char, 22>, 2> text{}; // the longest text a display writes fits

    std::string_view textOf(std::size_t k) const { return {text[k].data(), length[k]}; }
    // The same time and the same fields: the same reading given twice.
    bool sameAs(const ParsedLine& other) const {
        return wallMs == other.wallMs && reading == other.reading && textOf(0) == other.textOf(0) &&
               textOf(1) == other.textOf(1);
    }
};

// A log read whole, its readings waiting to be handed on in order.
struct ParsedLog {
    LogReadResult result;
    std::vector<ParsedLine> lines;
};

// `lines` is a buffer handed back from a file read before, so that each file does not take
// fresh memory from the system (and fault every page of it in again).
ParsedLog parseLog(const std::string& path, std::vector<ParsedLine> lines) {
    struct Collect : LogReadingSink {
        std::vector<ParsedLine>& lines;
        explicit Collect(std::vector<ParsedLine>& l) : lines(l) {}
        void reading(std::int64_t wallMs, const MeterReading& reading, std::string_view current,
                     std::string_view second) override {
            ParsedLine& line = lines.emplace_back();
            line.wallMs = wallMs;
            line.reading = reading;
            std::size_t k = 0;
            for (const std::string_view text : {current, second}) {
                const std::size_t n = std::min(text.size(), line.text[k].size());
                std::memcpy(line.text[k].data(), text.data(), n);
                line.length[k++] = static_cast<std::uint8_t>(n);
            }
        }
    };
    ParsedLog parsed;
    parsed.lines = std::move(lines);
    parsed.lines.clear();
    const LogFile log(path);
    // A day of readings at 2 Hz, the size of the files this is for.
    parsed.lines.reserve(std::min<std::size_t>(log.text().size() / 50 + 1, 250'000));
    Collect collect(parsed.lines);
    parsed.result = readFile(log, collect);
    // A clock set back leaves a file out of order: its readings go in time order.
    const auto earlier = [](const ParsedLine& a, const ParsedLine& b) {
        return a.wallMs < b.wallMs;
    };
    if (!std::is_sorted(parsed.lines.begin(), parsed.lines.end(), earlier)) {
        std::stable_sort(parsed.lines.begin(), parsed.lines.end(), earlier);
    }
    return parsed;
}

// Hands the readings of files on in time order, however they overlap (a day given twice,
// plain and compressed), and each reading that stands twice once. Files come in the order of
// their first readings; what the one before holds from the next one's first reading on waits
// to be merged with it.
class MergedReadings {
public:
    MergedReadings(LogReadingSink& sink, LogReadResult& total) : sink_(sink), total_(total) {}

    // The next file's readings (in time order); its buffer may be used again afterwards.
    void add(std::vector<ParsedLine>& lines) {
        if (lines.empty()) {
            return;
        }
        const std::int64_t first = lines.front().wallMs;
        std::size_t sent = 0;
        while (sent < tail_.size() && tail_[sent].wallMs < first) {
            send(tail_[sent++]);
        }
        if (sent == tail_.size()) {
            tail_.swap(lines); // no overlap, nearly always: no copy
            return;
        }
        merged_.clear();
        merged_.reserve(tail_.size() - sent + lines.size());
        std::merge(tail_.begin() + static_cast<std::ptrdiff_t>(sent), tail_.end(), lines.begin(),
                   lines.end(), std::back_inserter(merged_),
                   [](const ParsedLine& a, const ParsedLine& b) { return a.wallMs < b.wallMs; });
        tail_.swap(merged_);
    }
    void finish() {
        for (const ParsedLine& line : tail_) {
            send(line);
        }
        tail_.clear();
    }

private:
    void send(const ParsedLine& line) {
        if (line.wallMs != time_) {
            time_ = line.wallMs;
            atTime_.clear();
        }
        for (const ParsedLine& sent : atTime_) {
            if (sent.sameAs(line)) {
                ++total_.duplicates;
                return;
            }
        }
        atTime_.push_back(line);
        sink_.reading(line.wallMs, line.reading, line.textOf(0), line.textOf(1));
        ++total_.readings;
    }

    LogReadingSink& sink_;
    LogReadResult& total_;
    std::vector<ParsedLine> tail_, merged_;
    std::int64_t time_ = std::numeric_limits<std::int64_t>::min();
    std::vector<ParsedLine> atTime_; // the readings sent at time_
};

} // namespace

std::vector<std::string> logsCovering(const std::vector<std::string>& paths, std::int64_t fromMs,
                                      std::int64_t toMs) {
    std::vector<std::pair<std::int64_t, std::string>> firsts;
    std::vector<std::string> kept;
    for (const std::string& path : paths) {
        const LogFile log = LogFile::beginning(path, 4096);
        if (const auto first = log.error().empty() ? firstReadingTime(log.text()) : std::nullopt) {
            firsts.emplace_back(*first, path);
        } else {
            kept.push_back(path);
        }
    }
    std::sort(firsts.begin(), firsts.end());
    for (std::size_t i = 0; i < firsts.size(); ++i) {
        const bool before =
            firsts[i].first <= fromMs && (i + 1 == firsts.size() || firsts[i + 1].first > fromMs);
        if (before || (firsts[i].first > fromMs && firsts[i].first < toMs)) {
            kept.push_back(firsts[i].second);
        }
    }
    return kept;
}

LogReadResult readCsvLog(const std::string& path, LogReadingSink& sink) {
    return readFile(LogFile(path), sink);
}

LogReadResult readCsvLogs(const std::vector<std::string>& paths, LogReadingSink& sink,
                          const std::function<bool(std::size_t)>& fileRead) {
    // Each file is checked and its first reading's time taken from its first lines alone.
    std::vector<std::pair<std::int64_t, std::string>> order;
    for (const std::string& path : paths) {
        const LogFile log = LogFile::beginning(path, 4096);
        LogReadResult checked;
        if (log.error().empty()) {
            // No reading is taken here: the header decides whether it is a log at all.
            struct None : LogReadingSink {
                void reading(std::int64_t, const MeterReading&, std::string_view,
                             std::string_view) override {}
            } none;
            const std::string_view text = log.text();
            const std::size_t end = text.find('\n');
            checked = readCsvLogText(end == std::string_view::npos ? text : text.substr(0, end + 1),
                                     none);
        }
        if (!checked.isLog) {
            LogReadResult refused;
            refused.error =
                log.error().empty() ? path + " is no talviren log: " + checked.error : log.error();
            return refused;
        }
        order.emplace_back(
            firstReadingTime(log.text()).value_or(std::numeric_limits<std::int64_t>::max()), path);
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    // Two files are read ahead on threads of their own while the one before is handed on in
    // order: a month of daily files opens on both cores. Each thread has its file to itself and
    // hands it over whole through its future.
    constexpr std::size_t kAhead = 2;
    std::deque<std::future<ParsedLog>> ahead;
    std::vector<std::vector<ParsedLine>> spare;
    std::size_t next = 0;
    const auto readAhead = [&] {
        while (ahead.size() < kAhead && next < order.size()) {
            std::vector<ParsedLine> buffer;
            if (!spare.empty()) {
                buffer = std::move(spare.back());
                spare.pop_back();
            }
            ahead.push_back(
                std::async(std::launch::async, parseLog, order[next++].second, std::move(buffer)));
        }
    };
    LogReadResult total;
    total.isLog = true;
    MergedReadings merged(sink, total);
    readAhead();
    std::size_t read = 0;
    while (!ahead.empty()) {
        ParsedLog parsed = ahead.front().get();
        ahead.pop_front();
        const bool goOn = parsed.result.isLog && (!fileRead || fileRead(read++));
        if (!goOn) {
            // Damaged past its first lines (a gzip file cut short), or given up.
            for (auto& pending : ahead) {
                pending.wait();
            }
            LogReadResult refused;
            refused.error = parsed.result.error;
            refused.cancelled = parsed.result.isLog;
            return refused;
        }
        readAhead();
        merged.add(parsed.lines);
        total.skipped += parsed.result.skipped;
        spare.push_back(std::move(parsed.lines));
    }
    merged.finish();
    return total;
}

} // namespace talviren
