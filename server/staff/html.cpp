// The staff view's HTML helpers (see html.h).
#include "html.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace server::staff {

std::string Escape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 16);
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
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string UrlEncode(std::string_view text) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out += char(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string CsvField(std::string_view text) {
    std::string value(text);
    if (!value.empty() &&
        (value[0] == '=' || value[0] == '+' || value[0] == '-' || value[0] == '@'))
        value.insert(value.begin(), '\'');
    if (value.find_first_of(",\"\r\n") == std::string::npos)
        return value;
    std::string quoted = "\"";
    for (char c : value) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string Page(const PageFrame& frame, const std::string& body) {
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                       "<title>" +
                       Escape(frame.title) +
                       " - Pelora staff</title>\n<link rel=\"stylesheet\" href=\"/style.css\">\n"
                       "</head>\n<body>\n";
    if (!frame.staffName.empty()) {
        html += "<header><nav aria-label=\"Main\"><ul>"
                "<li><a href=\"/\">Trainees</a></li>"
                "<li><a href=\"/online\">Online now</a></li>"
                "<li><a href=\"/files\">Files not read</a></li>"
                "<li><a href=\"/export\">Export</a></li></ul>"
                "<form method=\"post\" action=\"/logout\" class=\"logout\">"
                "<input type=\"hidden\" name=\"csrf\" value=\"" +
                Escape(frame.csrf) + "\"><span>" + Escape(frame.staffName) +
                "</span> <button type=\"submit\">Log out</button></form></nav></header>\n";
    }
    html += "<main>\n<h1>" + Escape(frame.title) + "</h1>\n" + body + "</main>\n</body>\n</html>\n";
    return html;
}

std::string FormatDate(std::int64_t seconds) {
    if (seconds <= 0)
        return "-";
    std::time_t t = std::time_t(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &tm);
    return text;
}

std::string FormatDuration(std::int64_t seconds) {
    seconds = std::max<std::int64_t>(seconds, 0);
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", (long long)(seconds / 3600),
                      (long long)(seconds / 60 % 60), (long long)(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", (long long)(seconds / 60),
                      (long long)(seconds % 60));
    return text;
}

std::string FormatNumber(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

int LevelForSeconds(std::int64_t seconds) {
    return int(std::min<std::int64_t>(10, 1 + std::max<std::int64_t>(seconds, 0) / 600));
}

const char* const kStyleSheet = R"css(
body { font-family: sans-serif; font-size: 1rem; color: #111; background: #fff; margin: 0; }
header { background: #1d3557; color: #fff; padding: 0.5rem 1rem; }
header nav { display: flex; flex-wrap: wrap; align-items: center; justify-content: space-between; }
header ul { list-style: none; margin: 0; padding: 0; display: flex; flex-wrap: wrap; gap: 1rem; }
header a { color: #fff; }
header button { font-size: 1rem; }
main { padding: 1rem; max-width: 75rem; }
a { color: #0b4f9c; }
a:focus, button:focus, input:focus { outline: 3px solid #f4a261; outline-offset: 2px; }
table { border-collapse: collapse; margin: 0.5rem 0 1.5rem; }
th, td { border: 1px solid #888; padding: 0.25rem 0.5rem; text-align: left; }
th { background: #e8eef5; }
td.number { text-align: right; }
.problem { color: #8b0000; }
.visually-hidden { position: absolute; width: 1px; height: 1px; overflow: hidden;
                   clip: rect(0 0 0 0); white-space: nowrap; }
.figure { display: flex; flex-wrap: wrap; gap: 1.5rem; align-items: flex-start; }
svg { max-width: 100%; height: auto; background: #fafafa; border: 1px solid #888; }
label { display: inline-block; margin-right: 0.5rem; }
)css";

// Moves the chair along the drawn path as the slider moves; the page reads fully without it.
const char* const kReplayScript = R"js(
(function () {
  var slider = document.getElementById('replay');
  var path = document.getElementById('trajectory');
  var chair = document.getElementById('chair');
  var output = document.getElementById('replay-time');
  if (!slider || !path || !chair) return;
  var points = path.getAttribute('points').trim().split(/\s+/).map(function (p) {
    var xy = p.split(','); return [parseFloat(xy[0]), parseFloat(xy[1])];
  });
  var times = (slider.getAttribute('data-times') || '').split(' ').map(parseFloat);
  function show() {
    var i = Math.min(points.length - 1, Math.max(0, parseInt(slider.value, 10) || 0));
    chair.setAttribute('cx', points[i][0]);
    chair.setAttribute('cy', points[i][1]);
    chair.removeAttribute('visibility');
    if (output) output.textContent = (times[i] || 0).toFixed(1) + ' s';
  }
  slider.addEventListener('input', show);
  slider.removeAttribute('disabled');
  show();
})();
)js";

} // namespace server::staff
