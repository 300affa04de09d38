#include "collector/event_report.h"

#include <ctime>
#include <sstream>

namespace Corvex::Tracking::Collector {

namespace {

using nlohmann::json;

constexpr size_t MAX_NAME_WIDTH = 40;
constexpr size_t MAX_VALUE_WIDTH = 60;
constexpr size_t SESSION_WIDTH = 9;  // 8 characters and "…"

// Characters, not bytes: UTF-8 continuation bytes do not count.
size_t displayWidth(const std::string& text) {
    size_t width = 0;
    for (const char c : text) width += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return width;
}

std::string localTime(int64_t milliseconds) {
    const std::time_t seconds = static_cast<std::time_t>(milliseconds / 1000);
    std::tm parts{};
    localtime_r(&seconds, &parts);
    char text[32];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(milliseconds % 1000));
    return std::string(text, length) + fraction;
}

void appendRow(std::string& out, const std::vector<std::string>& cells,
               const std::vector<size_t>& widths, const std::vector<bool>& rightAligned) {
    std::string line;
    for (size_t i = 0; i < cells.size(); ++i) {
        const std::string padding(widths[i] - displayWidth(cells[i]), ' ');
        if (i > 0) line += "  ";
        line += rightAligned[i] ? padding + cells[i] : cells[i] + padding;
    }
    // Trailing blanks of the last column are noise.
    line.erase(line.find_last_not_of(' ') + 1);
    out += line + "\n";
}

std::string formatTable(const std::vector<std::vector<std::string>>& rows,
                        const std::vector<bool>& rightAligned) {
    std::vector<size_t> widths(rightAligned.size(), 0);
    for (const auto& row : rows) {
        for (size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], displayWidth(row[i]));
    }
    std::string out;
    for (const auto& row : rows) appendRow(out, row, widths, rightAligned);
    return out;
}

}  // namespace

std::string terminalCell(const std::string& text, size_t maxWidth) {
    std::string safe;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
            safe += '?';  // a C1 control character, U+0080 to U+009F
            ++i;
        } else {
            safe += byte < 0x20 || byte == 0x7F ? '?' : text[i];
        }
    }
    if (displayWidth(safe) <= maxWidth) return safe;
    std::string cut;
    size_t width = 0;
    for (const char c : safe) {
        const bool starts = (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        if (starts && ++width > maxWidth - 1) break;
        cut += c;
    }
    return cut + "\xE2\x80\xA6";  // …
}

std::string formatEventTable(const std::vector<StoredEvent>& events, bool withHeader) {
    std::vector<std::vector<std::string>> rows;
    if (withHeader) rows.push_back({"#", "received", "user", "session", "event", "dup", "value"});
    for (const StoredEvent& stored : events) {
        rows.push_back({std::to_string(stored.id), localTime(stored.receivedAtMs),
                        terminalCell(stored.user, MAX_NAME_WIDTH),
                        terminalCell(stored.event.sessionId, SESSION_WIDTH),
                        terminalCell(stored.event.eventName, MAX_NAME_WIDTH),
                        std::to_string(stored.duplicates),
                        terminalCell(stored.event.value.dump(), MAX_VALUE_WIDTH)});
    }
    return formatTable(rows, {true, false, false, false, false, true, false});
}

std::string formatEventJsonLines(const std::vector<StoredEvent>& events) {
    std::string out;
    for (const StoredEvent& stored : events) {
        out += stored.toJson().dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
    }
    return out;
}

std::string formatStats(const EventStats& stats) {
    std::vector<std::vector<std::string>> rows{{"event", "events", "duplicates"}};
    for (const EventStats::PerName& entry : stats.names) {
        rows.push_back({terminalCell(entry.name, MAX_NAME_WIDTH), std::to_string(entry.events),
                        std::to_string(entry.duplicates)});
    }
    rows.push_back({"total", std::to_string(stats.events), std::to_string(stats.duplicates)});
    std::ostringstream out;
    out << formatTable(rows, {false, true, true}) << "requests " << stats.requests << ": "
        << stats.accepted << " accepted, " << stats.failures << " failed\n";
    return out.str();
}

std::string formatAccepted(const RecordResult& result, const ReceivedBatch& batch,
                           const TrackingPlan* plan) {
    const std::string duplicates = std::to_string(result.duplicates) + " duplicates";
    if (plan == nullptr) return std::to_string(result.newEvents) + " new, " + duplicates;
    int bad = 0;
    std::string reasons;
    for (const size_t index : result.newEventIndexes) {
        const ReceivedEvent& event = batch.events.at(index);
        const std::vector<Violation> violations = plan->check(event.eventName, event.value);
        if (violations.empty()) continue;
        ++bad;
        for (const Violation& violation : violations) {
            reasons +=
                "\n    bad " + terminalCell(event.eventName, MAX_NAME_WIDTH) + "  " +
                terminalCell(violation.path.empty() ? "(value)" : violation.path, MAX_NAME_WIDTH) +
                ": " + terminalCell(violation.rule, MAX_VALUE_WIDTH) + " (" +
                terminalCell(violation.value, MAX_VALUE_WIDTH) + ")";
        }
    }
    return std::to_string(result.newEvents) + " new, " + std::to_string(bad) + " bad, " +
           duplicates + reasons;
}

}  // namespace Corvex::Tracking::Collector
