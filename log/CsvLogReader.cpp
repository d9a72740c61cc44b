#include "log/CsvLogReader.h"

#include "log/CsvLog.h"
#include "measure/ValueText.h"
#include "time/TimeReader.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <optional>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace talviren {

namespace {

// A log's eight columns, and the power columns a Trend save adds after them.
constexpr std::size_t kLogColumns = 8;
constexpr std::string_view kPowerColumns[] = {"apparent_power_va", "power_w"};
constexpr std::size_t kColumns = kLogColumns + std::size(kPowerColumns);
using Fields = std::array<std::string_view, kColumns>;

// Splits one record (RFC 4180) off the front of `text`; quoted fields are unquoted into
// `scratch`. False when the record has not exactly `columns` fields.
bool nextRecord(std::string_view& text, Fields& fields, std::array<std::string, kColumns>& scratch,
                std::size_t columns) {
    std::size_t count = 0;
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

// A number as the display writes it: no leading zeros, at most maxDecimals decimals after "."
// or ",", none of them a trailing zero. Gives count and decimals.
struct DisplayNumber {
    int count;
    int decimals;
};
std::optional<DisplayNumber> displayNumber(std::string_view text, int maxDecimals) {
    const std::size_t separator = text.find_first_of(".,");
    const std::string_view whole = text.substr(0, separator);
    const std::string_view fraction =
        separator == std::string_view::npos ? std::string_view() : text.substr(separator + 1);
    if (whole.size() > 1 && whole[0] == '0') {
        return std::nullopt;
    }
    if (separator != std::string_view::npos && (fraction.empty() || fraction.back() == '0' ||
                                                static_cast<int>(fraction.size()) > maxDecimals)) {
        return std::nullopt;
    }
    const auto w = digits(whole);
    const auto f = fraction.empty() ? std::optional<int>(0) : digits(fraction);
    if (!w || !f) {
        return std::nullopt;
    }
    int count = *w;
    for (std::size_t k = 0; k < fraction.size(); ++k) {
        count *= 10;
    }
    return DisplayNumber{count + *f, static_cast<int>(fraction.size())};
}

int scaled(const DisplayNumber& n, int decimals) {
    int count = n.count;
    for (int k = n.decimals; k < decimals; ++k) {
        count *= 10;
    }
    return count;
}

bool endsWith(std::string_view text, std::string_view suffix, std::string_view& rest) {
    if (text.size() <= suffix.size() || text.substr(text.size() - suffix.size()) != suffix) {
        return false;
    }
    rest = text.substr(0, text.size() - suffix.size());
    return true;
}

// Decimals the display writes on a scale: as many as its divisor has zeros.
int decimalsOf(const QuantityScale& scale) {
    int decimals = 0;
    for (int divisor = scale.displayDivisor; divisor > 1; divisor /= 10) {
        ++decimals;
    }
    return decimals;
}

// The count (and sign) a text stands for on a scale, read by the rules the display writes it
// by; nothing when the display cannot have written it so.
struct TextCount {
    int count;
    bool negative;
};
std::optional<TextCount> countFromText(std::string_view text, const QuantityScale& scale) {
    std::string_view number;
    if (!endsWith(text, scale.unit, number)) {
        return std::nullopt;
    }
    if (number == kOverload) {
        if (scale.overloadLimit == std::numeric_limits<int>::max()) {
            return std::nullopt; // this scale never reads "OL"
        }
        return TextCount{scale.overloadLimit + 1, false};
    }
    const bool negative = scale.canBeNegative && number.starts_with('-');
    if (negative) {
        number.remove_prefix(1);
    }
    const int decimals = decimalsOf(scale);
    const auto n = displayNumber(number, decimals);
    if (!n) {
        return std::nullopt;
    }
    const int count = scaled(*n, decimals);
    if (count > scale.overloadLimit || count > countFromDigits(255, 255)) {
        return std::nullopt;
    }
    return TextCount{count, negative};
}

// The first range code that has no current (the scale table ends before it).
std::uint8_t noCurrentRange() {
    std::uint8_t range = 0;
    while (currentScale(range)) {
        ++range;
    }
    return range;
}

// Range and count of a current text; false when the display cannot have shown it.
bool currentFromText(std::string_view text, MeterReading& reading) {
    if (text.empty()) {
        reading.currentRange = noCurrentRange();
        return true;
    }
    // The first range that writes the same text will do: its text and value are the same.
    for (std::uint8_t range = 0; const auto scale = currentScale(range); ++range) {
        if (const auto found = countFromText(text, *scale)) {
            reading.currentRange = range;
            reading.currentCount = found->count;
            return true;
        }
    }
    return false;
}

// Count and sign of a second text for the function; false when it cannot have been shown.
bool secondFromText(std::string_view text, MeterReading& reading) {
    const auto scale = secondScale(reading.function);
    if (!scale) {
        return text.empty();
    }
    const auto found = countFromText(text, *scale);
    if (!found) {
        return false;
    }
    reading.secondCount = found->count;
    reading.secondSign = found->negative ? 1 : 0;
    return true;
}

// A plain number in the base unit ("0.085", "-31") in thousandths; nothing when malformed.
std::optional<std::int64_t> plainMilli(std::string_view text) {
    bool negative = false;
    if (!text.empty() && text[0] == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    const auto n = displayNumber(text, 3);
    if (!n || text.find(',') != std::string_view::npos) {
        return std::nullopt;
    }
    const std::int64_t milli = scaled(*n, 3);
    return negative ? -milli : milli;
}

// The value column agrees with the quantity: its number, or empty on overload or without one.
bool valueAgrees(std::string_view value, const std::optional<QuantityCount>& quantity) {
    if (!quantity || quantity->overload) {
        return value.empty();
    }
    const auto milli = plainMilli(value);
    return milli && *milli == quantity->milli();
}

std::optional<MeterReading> readingOf(const Fields& f) {
    const auto function = digits(f[1]);
    if (!function || *function > 255 || (f[1].size() > 1 && f[1][0] == '0')) {
        return std::nullopt;
    }
    MeterReading reading;
    reading.function = static_cast<std::uint8_t>(*function);
    const auto symbols = quantitySymbols(reading.function);
    if (f[2] != (symbols ? symbols->current : std::string_view()) ||
        f[4] != (symbols ? symbols->second : std::string_view())) {
        return std::nullopt;
    }
    if (!currentFromText(f[3], reading) || !secondFromText(f[5], reading)) {
        return std::nullopt;
    }
    if (!valueAgrees(f[6], currentNumber(reading)) || !valueAgrees(f[7], secondNumber(reading))) {
        return std::nullopt;
    }
    return reading;
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
        result.error = "it does not begin with the header of a talviren log (" +
                       std::string(csvlog::kHeader) + ")";
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
        const auto wallMs = complete ? times.read(fields[0]) : std::nullopt;
        const auto reading = wallMs ? readingOf(fields) : std::nullopt;
        if (!reading) {
            ++result.skipped;
            continue;
        }
        sink.reading(*wallMs, *reading, fields[3], fields[5]);
        ++result.readings;
    }
    return result;
}

namespace {

// A log mapped into memory for reading, unmapped when it goes.
class MappedLog {
public:
    explicit MappedLog(std::string path) : path_(std::move(path)) {
        const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat info {};
        if (fd < 0 || ::fstat(fd, &info) != 0) {
            error_ = "cannot open " + path_ + ": " + std::strerror(errno);
            if (fd >= 0) {
                ::close(fd);
            }
            return;
        }
        size_ = static_cast<std::size_t>(info.st_size);
        if (size_ == 0) {
            ::close(fd);
            error_ = path_ + " is empty";
            return;
        }
        data_ = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
        const int mapError = errno;
        ::close(fd);
        if (data_ == MAP_FAILED) {
            data_ = nullptr;
            error_ = "cannot read " + path_ + ": " + std::strerror(mapError);
            return;
        }
        ::madvise(data_, size_, MADV_SEQUENTIAL);
    }
    ~MappedLog() {
        if (data_) {
            ::munmap(data_, size_);
        }
    }
    MappedLog(const MappedLog&) = delete;
    MappedLog& operator=(const MappedLog&) = delete;

    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; }
    std::string_view text() const {
        return data_ ? std::string_view(static_cast<const char*>(data_), size_)
                     : std::string_view();
    }

    // Reads it into `sink`, the error naming the file.
    LogReadResult read(LogReadingSink& sink) const {
        if (!data_) {
            LogReadResult result;
            result.error = error_;
            return result;
        }
        LogReadResult result = readCsvLogText(text(), sink);
        if (!result.isLog) {
            result.error = path_ + " is no talviren log: " + result.error;
        }
        return result;
    }

private:
    std::string path_;
    std::string error_;
    void* data_ = nullptr;
    std::size_t size_ = 0;
};

// The time of a log's first reading, read from its first lines; none when no line is read
// there (the file is still checked whole when it is read).
std::optional<std::int64_t> firstReadingTime(const MappedLog& log) {
    struct First : LogReadingSink {
        std::optional<std::int64_t> wallMs;
        void reading(std::int64_t ms, const MeterReading&, std::string_view,
                     std::string_view) override {
            if (!wallMs) {
                wallMs = ms;
            }
        }
    } first;
    std::string_view text = log.text().substr(0, 4096);
    if (const std::size_t end = text.rfind('\n'); end != std::string_view::npos) {
        text = text.substr(0, end + 1);
    }
    readCsvLogText(text, first);
    return first.wallMs;
}

} // namespace

LogReadResult readCsvLog(const std::string& path, LogReadingSink& sink) {
    return MappedLog(path).read(sink);
}

LogReadResult readCsvLogs(const std::vector<std::string>& paths, LogReadingSink& sink) {
    std::vector<std::unique_ptr<MappedLog>> logs;
    std::vector<std::pair<std::int64_t, std::size_t>> order;
    for (const std::string& path : paths) {
        logs.push_back(std::make_unique<MappedLog>(path));
        LogReadResult checked;
        checked.isLog = logs.back()->error().empty();
        if (checked.isLog) {
            // No reading is taken here: the header decides whether it is a log at all.
            struct None : LogReadingSink {
                void reading(std::int64_t, const MeterReading&, std::string_view,
                             std::string_view) override {}
            } none;
            const std::string_view text = logs.back()->text();
            const std::size_t end = text.find('\n');
            checked = readCsvLogText(end == std::string_view::npos ? text : text.substr(0, end + 1),
                                     none);
        }
        if (!checked.isLog) {
            LogReadResult refused;
            refused.error = logs.back()->error().empty()
                                ? path + " is no talviren log: " + checked.error
                                : logs.back()->error();
            return refused;
        }
        const auto first = firstReadingTime(*logs.back());
        order.emplace_back(first.value_or(std::numeric_limits<std::int64_t>::max()),
                           logs.size() - 1);
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    LogReadResult total;
    total.isLog = !paths.empty();
    for (const auto& [first, index] : order) {
        const LogReadResult one = logs[index]->read(sink);
        total.readings += one.readings;
        total.skipped += one.skipped;
    }
    if (paths.empty()) {
        total.error = "no file given";
    }
    return total;
}

} // namespace talviren
