// The Trainees, Trainee, Online now, Files not read and Export pages and the CSV (see
// staff_pages.h); the Drive page is in drive_page.cpp.
#include "staff_pages.h"

#include "html.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

namespace server::staff {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

double PerMinute(std::int64_t count, std::int64_t seconds) {
    return double(count) / (double(std::max<std::int64_t>(seconds, 1)) / 60.0);
}

std::string Cell(const std::string& html, bool number = false) {
    return number ? "<td class=\"number\">" + html + "</td>" : "<td>" + html + "</td>";
}

std::string Landmarks(const DriveRow& d) {
    return std::to_string(d.landmarksReached) + " of " +
           (d.landmarksTotal >= 0 ? std::to_string(d.landmarksTotal) : std::string("?"));
}

} // namespace

std::string LineChart(const std::vector<double>& values, const std::string& label, int width,
                      int height) {
    const int pad = 4;
    double top = 0;
    for (double v : values)
        top = std::max(top, v);
    if (top <= 0)
        top = 1;
    std::string points;
    std::string dots;
    for (std::size_t i = 0; i < values.size(); ++i) {
        double x = values.size() == 1
                       ? width / 2.0
                       : pad + double(width - 2 * pad) * double(i) / double(values.size() - 1);
        double y = height - pad - double(height - 2 * pad) * values[i] / top;
        std::string xy = FormatNumber(x, 1) + "," + FormatNumber(y, 1);
        points += (points.empty() ? "" : " ") + xy;
        dots += "<circle cx=\"" + FormatNumber(x, 1) + "\" cy=\"" + FormatNumber(y, 1) +
                "\" r=\"2\" fill=\"#1d3557\"/>";
    }
    std::string numbers;
    for (double v : values)
        numbers += (numbers.empty() ? "" : ", ") + FormatNumber(v, 2);
    return "<svg role=\"img\" width=\"" + std::to_string(width) + "\" height=\"" +
           std::to_string(height) + "\" viewBox=\"0 0 " + std::to_string(width) + " " +
           std::to_string(height) + "\"><title>" + Escape(label) + ": " + numbers +
           "</title><polyline points=\"" + points +
           "\" fill=\"none\" stroke=\"#1d3557\" stroke-width=\"1.5\"/>" + dots + "</svg>";
}

std::string TraineesBody(std::vector<TraineeRow> trainees, const TraineesQuery& query) {
    if (!query.search.empty()) {
        std::string needle = Lower(query.search);
        std::erase_if(trainees, [&](const TraineeRow& t) {
            return Lower(t.name).find(needle) == std::string::npos;
        });
    }
    auto key = [&](const TraineeRow& a, const TraineeRow& b) {
        if (query.sort == "level" || query.sort == "time")
            return a.seconds < b.seconds;
        if (query.sort == "drives")
            return a.drives < b.drives;
        if (query.sort == "last")
            return a.lastStart < b.lastStart;
        return a.name < b.name;
    };
    std::stable_sort(trainees.begin(), trainees.end(), [&](const auto& a, const auto& b) {
        return query.descending ? key(b, a) : key(a, b);
    });
    std::string body =
        "<form method=\"get\" action=\"/\" role=\"search\"><label for=\"q\">Search by "
        "name</label><input type=\"search\" id=\"q\" name=\"q\" value=\"" +
        Escape(query.search) + "\"><input type=\"hidden\" name=\"sort\" value=\"" +
        Escape(query.sort) + "\"><button type=\"submit\">Search</button></form>\n";
    body += "<table id=\"trainees\"><caption>" + std::to_string(trainees.size()) +
            " trainees</caption>\n<thead><tr>";
    const std::pair<const char*, const char*> columns[] = {{"name", "Name"},
                                                           {"level", "Level"},
                                                           {"drives", "Drives"},
                                                           {"time", "Time driven"},
                                                           {"last", "Last drive"}};
    for (const auto& [id, title] : columns) {
        bool current = query.sort == id;
        bool nextDescending = current && !query.descending;
        std::string sortState = current ? (query.descending ? "descending" : "ascending") : "none";
        body += "<th scope=\"col\" aria-sort=\"" + sortState + "\"><a href=\"/?sort=" + id +
                "&amp;dir=" + (nextDescending ? "desc" : "asc") +
                "&amp;q=" + UrlEncode(query.search) + "\">" + title + "</a></th>";
    }
    body += "<th scope=\"col\">Collisions per minute, last drives</th></tr></thead>\n<tbody>\n";
    for (const TraineeRow& t : trainees) {
        std::string trend =
            t.trend.empty()
                ? std::string("-")
                : LineChart(t.trend, "Collisions per minute of the last drives", 120, 28);
        body += "<tr><th scope=\"row\"><a href=\"/trainee?name=" + UrlEncode(t.name) + "\">" +
                Escape(t.name) + "</a></th>" +
                Cell(std::to_string(LevelForSeconds(t.seconds)), true) +
                Cell(std::to_string(t.drives), true) + Cell(FormatDuration(t.seconds), true) +
                Cell(FormatDate(t.lastStart)) + Cell(trend) + "</tr>\n";
    }
    body += "</tbody></table>\n";
    return body;
}

std::string TraineeBody(const std::string& name, const std::vector<DriveRow>& drives,
                        const WorldCatalog& worlds) {
    std::int64_t seconds = 0;
    for (const DriveRow& d : drives)
        seconds += d.duration;
    std::string body = "<p>Level " + std::to_string(LevelForSeconds(seconds)) + ", " +
                       std::to_string(drives.size()) + " drives, " + FormatDuration(seconds) +
                       " driven. <a href=\"/export/trainee.csv?name=" + UrlEncode(name) +
                       "\">Download the drives as CSV</a></p>\n";

    // Every drive.
    body += "<h2>Drives</h2>\n<table id=\"drives\"><thead><tr><th scope=\"col\">Date "
            "(UTC)</th><th scope=\"col\">World</th><th scope=\"col\">Duration</th><th "
            "scope=\"col\">Distance (m)</th><th scope=\"col\">Collisions</th><th "
            "scope=\"col\">Landmarks</th></tr></thead>\n<tbody>\n";
    for (auto it = drives.rbegin(); it != drives.rend(); ++it) {
        const DriveRow& d = *it;
        body += "<tr><th scope=\"row\"><a href=\"/drive?id=" + std::to_string(d.id) + "\">" +
                FormatDate(d.start) + "</a></th>" + Cell(Escape(d.world)) +
                Cell(FormatDuration(d.duration), true) + Cell(FormatNumber(d.distance, 1), true) +
                Cell(std::to_string(d.collisions), true) + Cell(Landmarks(d), true) + "</tr>\n";
    }
    body += "</tbody></table>\n";

    // Per world: the charts of duration and collisions, drive after drive.
    std::map<std::string, std::vector<const DriveRow*>> byWorld;
    for (const DriveRow& d : drives)
        byWorld[d.world].push_back(&d);
    body += "<h2>By world</h2>\n";
    for (const auto& [world, list] : byWorld) {
        std::vector<double> durations, collisions;
        for (const DriveRow* d : list) {
            durations.push_back(double(d->duration) / 60.0);
            collisions.push_back(double(d->collisions));
        }
        body += "<section><h3>" + Escape(world) + "</h3><div class=\"figure\"><figure>" +
                LineChart(durations, "Duration per drive in minutes", 320, 120) +
                "<figcaption>Duration per drive (minutes)</figcaption></figure><figure>" +
                LineChart(collisions, "Collisions per drive", 320, 120) +
                "<figcaption>Collisions per drive</figcaption></figure></div></section>\n";
    }

    // Progress across the worlds by difficulty: the first and the latest drives of each.
    struct Level {
        std::set<std::string> worlds;
        int drives = 0;
        double firstRate = -1, lastRate = 0;
        std::int64_t best = -1;
    };
    std::map<int, Level> levels;
    for (const DriveRow& d : drives) {
        const KnownWorld* known = worlds.Find(d.world);
        Level& level = levels[known ? known->difficulty : 0];
        level.worlds.insert(d.world);
        ++level.drives;
        double rate = PerMinute(d.collisions, d.duration);
        if (level.firstRate < 0)
            level.firstRate = rate;
        level.lastRate = rate;
        if (level.best < 0 || d.duration < level.best)
            level.best = d.duration;
    }
    body += "<h2>Progress by difficulty</h2>\n<table id=\"progress\"><thead><tr><th "
            "scope=\"col\">Difficulty</th><th scope=\"col\">Worlds</th><th "
            "scope=\"col\">Drives</th><th scope=\"col\">Shortest drive</th><th "
            "scope=\"col\">Collisions per minute, first drive</th><th scope=\"col\">Collisions "
            "per minute, latest drive</th></tr></thead>\n<tbody>\n";
    for (const auto& [difficulty, level] : levels) {
        std::string names;
        for (const std::string& w : level.worlds)
            names += (names.empty() ? "" : ", ") + Escape(w);
        body += "<tr><th scope=\"row\">" +
                (difficulty > 0 ? std::to_string(difficulty) + " of 5" : std::string("unknown")) +
                "</th>" + Cell(names) + Cell(std::to_string(level.drives), true) +
                Cell(FormatDuration(level.best), true) +
                Cell(FormatNumber(level.firstRate, 2), true) +
                Cell(FormatNumber(level.lastRate, 2), true) + "</tr>\n";
    }
    body += "</tbody></table>\n";
    return body;
}

std::string OnlineBody(const std::vector<OnlineEntry>& online) {
    std::string body = "<table id=\"online\"><caption>" + std::to_string(online.size()) +
                       " logged in</caption><thead><tr><th scope=\"col\">Name</th><th "
                       "scope=\"col\">World</th></tr></thead>\n<tbody>\n";
    for (const OnlineEntry& e : online)
        body += "<tr><th scope=\"row\">" + Escape(e.name) + "</th>" +
                Cell(e.world.empty() ? std::string("(in no world)") : Escape(e.world)) + "</tr>\n";
    return body + "</tbody></table>\n";
}

std::string FilesBody(const std::vector<DriveRow>& unreadable) {
    std::string body = "<p>Data files the server received and keeps as they are, but could "
                       "not read as a drive.</p>\n<table id=\"unreadable\"><caption>" +
                       std::to_string(unreadable.size()) +
                       " files not read</caption><thead><tr><th scope=\"col\">Trainee</th><th "
                       "scope=\"col\">File</th><th scope=\"col\">Received</th><th "
                       "scope=\"col\">Why</th></tr></thead>\n<tbody>\n";
    for (const DriveRow& f : unreadable)
        body += "<tr><th scope=\"row\">" + Escape(f.user) + "</th>" + Cell(Escape(f.storedName)) +
                Cell(FormatDate(f.recordedAt)) +
                "<td class=\"problem\">unreadable: " + Escape(f.problem) + "</td></tr>\n";
    return body + "</tbody></table>\n";
}

std::string ExportBody() {
    return "<p>A trainee's drives are exported from the trainee's page.</p>\n"
           "<form method=\"get\" action=\"/export/drives.csv\"><fieldset><legend>All drives "
           "that started between two dates (UTC, both included)</legend>"
           "<label for=\"from\">From</label><input type=\"date\" id=\"from\" name=\"from\" "
           "required> <label for=\"to\">To</label><input type=\"date\" id=\"to\" name=\"to\" "
           "required> <button type=\"submit\">Download CSV</button></fieldset></form>\n";
}

std::string DrivesCsv(const std::vector<DriveRow>& drives) {
    std::string csv = "user,start,world,duration_s,distance_m,collisions,landmarks_reached,"
                      "landmarks_total,others,file\r\n";
    for (const DriveRow& d : drives) {
        std::string others;
        for (const std::string& o : d.others)
            others += (others.empty() ? "" : ";") + o;
        csv += CsvField(d.user) + "," + FormatDate(d.start) + "," + CsvField(d.world) + "," +
               std::to_string(d.duration) + "," + FormatNumber(d.distance, 2) + "," +
               std::to_string(d.collisions) + "," + std::to_string(d.landmarksReached) + "," +
               (d.landmarksTotal >= 0 ? std::to_string(d.landmarksTotal) : std::string()) + "," +
               CsvField(others) + "," + CsvField(d.storedName) + "\r\n";
    }
    return csv;
}

} // namespace server::staff
