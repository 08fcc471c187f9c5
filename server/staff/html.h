// The staff view's HTML: the one escaping function every value from a user, a data file or a
// request goes through, the page frame (navigation, logout form with its CSRF token), CSV
// fields, and the formats of times and figures.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace server::staff {

// Text safe in HTML content and in double-quoted attributes: & < > " ' escaped.
std::string Escape(std::string_view text);

// A value for a URL's query: every byte but letters, digits and -._~ percent-encoded.
std::string UrlEncode(std::string_view text);

// One CSV field: quoted when it holds a comma, quote or line break; a leading = + - @ (which a
// spreadsheet would run as a formula) is preceded by an apostrophe.
std::string CsvField(std::string_view text);

struct PageFrame {
    std::string title;     // plain text, escaped here
    std::string staffName; // "" on the login page: no navigation
    std::string csrf;      // the session's token, for the logout form
};

// A whole page around `body` (HTML, already escaped where it needs to be).
std::string Page(const PageFrame& frame, const std::string& body);

std::string FormatDate(std::int64_t seconds);     // "2026-12-07 10:15" (UTC)
std::string FormatDuration(std::int64_t seconds); // "1:02:03" or "2:03"
std::string FormatNumber(double value, int decimals);

// The level the launcher gives for a time driven: 1 plus one per full 10 minutes, at most 10.
int LevelForSeconds(std::int64_t seconds);

// The style sheet and the replay script, served from the staff port itself.
extern const char* const kStyleSheet;
extern const char* const kReplayScript;

} // namespace server::staff
