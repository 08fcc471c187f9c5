// The drive record's writer, parser and recorder (see drive_record.h).
#include "drive_record.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace drive_record {

namespace {

// A value in whole units of `unit` (0.1 for tenths), rounded.
long long Units(double value, double unit) {
    double scaled = std::round(value / unit);
    if (!std::isfinite(scaled) || std::fabs(scaled) > 1e15)
        return 0;
    return static_cast<long long>(scaled);
}

// Texts are single lines.
std::string OneLine(const std::string& text) {
    std::string line = text;
    for (char& c : line)
        if (c == '\n' || c == '\r')
            c = ' ';
    return line;
}

bool ParseInteger(std::string_view text, long long& value) {
    if (text.empty())
        return false;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

bool ParseNumber(const std::string& text, double& value) {
    if (text.empty() || text.size() > 40)
        return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(value);
}

// Splits off `count` whole numbers separated by single spaces; `rest` gets what follows.
bool Integers(std::string_view text, int count, long long* values, std::string* rest) {
    std::size_t at = 0;
    for (int i = 0; i < count; ++i) {
        std::size_t space = text.find(' ', at);
        bool last = i == count - 1 && !rest;
        if (last)
            space = std::string_view::npos;
        else if (space == std::string_view::npos)
            return false;
        if (!ParseInteger(text.substr(at, space == std::string_view::npos ? text.npos : space - at),
                          values[i]))
            return false;
        at = space == std::string_view::npos ? text.size() : space + 1;
    }
    if (rest)
        *rest = std::string(text.substr(at));
    return true;
}

} // namespace

std::string FormatRecord(const Record& record) {
    std::string out;
    out.reserve(40 * record.samples.size() + 256);
    char line[160];
    out += "record=" + std::to_string(kVersion) + "\n";
    out += "samples=" + std::to_string(record.samples.size()) + "\n";
    for (const Sample& s : record.samples) {
        std::snprintf(line, sizeof line, "s=%lld %lld %lld %lld %lld %lld %lld\n",
                      Units(s.time, 0.1), Units(s.x, 0.01), Units(s.y, 0.01), Units(s.heading, 0.1),
                      Units(s.speed, 0.01), Units(s.forward, 0.01), Units(s.turn, 0.01));
        out += line;
    }
    out += "hits=" + std::to_string(record.hits.size()) + "\n";
    for (const Hit& h : record.hits) {
        std::snprintf(line, sizeof line, "hit=%lld %lld %lld ", Units(h.time, 0.1),
                      Units(h.x, 0.01), Units(h.y, 0.01));
        out += line + OneLine(h.what) + "\n";
    }
    out += "reached=" + std::to_string(record.reaches.size()) + "\n";
    for (const Reach& r : record.reaches) {
        std::snprintf(line, sizeof line, "reach=%lld ", Units(r.time, 0.1));
        out += line + OneLine(r.landmark) + "\n";
    }
    return out;
}

bool ParseUtc(const std::string& text, std::int64_t& seconds) {
    std::tm tm{};
    int consumed = 0;
    if (text.size() != 20 ||
        std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2dZ%n", &tm.tm_year, &tm.tm_mon,
                    &tm.tm_mday, &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &consumed) != 6 ||
        consumed != 20)
        return false;
    if (tm.tm_mon < 1 || tm.tm_mon > 12 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour > 23 ||
        tm.tm_min > 59 || tm.tm_sec > 60)
        return false;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    seconds = static_cast<std::int64_t>(timegm(&tm));
    return true;
}

bool ParseDataFile(const std::string& text, DataFile& file, std::string& error) {
    DataFile result;
    Summary& sum = result.summary;
    std::size_t at = 0;
    int lineNo = 0;
    // Lists announced by a count ("samples=N") must hold exactly N lines.
    long long expectSamples = -1, expectHits = -1, expectReaches = -1;
    long long expectLandmarks = -1, expectOthers = -1;
    bool laterVersion = false;
    auto fail = [&](const std::string& why) {
        error = "line " + std::to_string(lineNo) + ": " + why;
        return false;
    };
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line(text.data() + at, end - at);
        at = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            continue;
        std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            return fail("not a key=value line");
        std::string_view key = line.substr(0, equals);
        std::string value(line.substr(equals + 1));
        if (laterVersion)
            continue;
        long long number = 0;
        if (key == "s") {
            long long v[7];
            if (!Integers(value, 7, v, nullptr))
                return fail("a sample needs seven whole numbers");
            result.record.samples.push_back({v[0] * 0.1, v[1] * 0.01, v[2] * 0.01, v[3] * 0.1,
                                             v[4] * 0.01, v[5] * 0.01, v[6] * 0.01});
        } else if (key == "hit") {
            long long v[3];
            std::string what;
            if (!Integers(value, 3, v, &what))
                return fail("a collision needs a time, a position and what was hit");
            result.record.hits.push_back({v[0] * 0.1, v[1] * 0.01, v[2] * 0.01, what});
        } else if (key == "reach") {
            long long v[1];
            std::string name;
            if (!Integers(value, 1, v, &name) || name.empty())
                return fail("a landmark reached needs a time and a name");
            result.record.reaches.push_back({v[0] * 0.1, name});
        } else if (key == "landmark") {
            sum.landmarks.push_back(value);
        } else if (key == "other") {
            sum.others.push_back(value);
        } else if (key == "user") {
            sum.user = value;
        } else if (key == "state") {
            sum.state = value;
        } else if (key == "organization") {
            sum.organization = value;
        } else if (key == "data-id") {
            sum.dataId = value;
        } else if (key == "world") {
            sum.world = value;
        } else if (key == "start" || key == "end") {
            std::int64_t seconds = 0;
            if (!ParseUtc(value, seconds))
                return fail("the " + std::string(key) + " is not a UTC time");
            (key == "start" ? sum.start : sum.end) = value;
            (key == "start" ? sum.startTime : sum.endTime) = seconds;
        } else if (key == "distance") {
            if (!ParseNumber(value, sum.distance) || sum.distance < 0)
                return fail("the distance is not a number of metres");
        } else if (key == "record") {
            if (!ParseInteger(value, number) || number < 1)
                return fail("the record version is not a whole number");
            result.recordVersion = int(std::min<long long>(number, 1000000));
            // A later section keeps the summary readable; its lines are skipped.
            laterVersion = number > kVersion;
        } else {
            long long* count = key == "duration"     ? &number
                               : key == "collisions" ? &number
                               : key == "landmarks"  ? &expectLandmarks
                               : key == "others"     ? &expectOthers
                               : key == "samples"    ? &expectSamples
                               : key == "hits"       ? &expectHits
                               : key == "reached"    ? &expectReaches
                                                     : nullptr;
            if (!count)
                continue; // a key of a later writer
            if (!ParseInteger(value, *count) || *count < 0)
                return fail("'" + std::string(key) + "' is not a whole number");
            if (key == "duration")
                sum.duration = number;
            else if (key == "collisions")
                sum.collisions = number;
        }
    }
    lineNo = 0;
    if (sum.user.empty() || sum.world.empty() || sum.start.empty())
        return fail("the summary lacks the user, the world or the start");
    auto counted = [](long long expected, std::size_t have) {
        return expected < 0 || std::size_t(expected) == have;
    };
    if (!counted(expectLandmarks, sum.landmarks.size()) ||
        !counted(expectOthers, sum.others.size()))
        return fail("the landmarks or others listed do not match their count");
    if (!laterVersion && (!counted(expectSamples, result.record.samples.size()) ||
                          !counted(expectHits, result.record.hits.size()) ||
                          !counted(expectReaches, result.record.reaches.size())))
        return fail("the record is cut short: its lists do not match their counts");
    if (result.recordVersion == 0 && !result.record.samples.empty())
        return fail("samples without a record version");
    file = std::move(result);
    error.clear();
    return true;
}

void Recorder::Step(double time, double x, double y, double heading, double forward, double turn) {
    double speed = 0;
    if (haveLast_ && time > previousTime_)
        speed = std::hypot(x - previousX_, y - previousY_) / (time - previousTime_);
    previousTime_ = time;
    previousX_ = x;
    previousY_ = y;
    last_ = {time, x, y, heading, speed, forward, turn};
    haveLast_ = true;
    lastKept_ = false;
    // A little slack, so steps of 1/30 s land a sample on every third one.
    if (record_.samples.empty() || time + 1e-6 >= nextSample_) {
        record_.samples.push_back(last_);
        lastKept_ = true;
        nextSample_ = (std::floor(time / kSampleInterval + 1e-6) + 1) * kSampleInterval;
    }
}

void Recorder::Hit(double time, double x, double y, const std::string& what) {
    record_.hits.push_back({time, x, y, what});
}

void Recorder::Reached(double time, const std::string& landmark) {
    record_.reaches.push_back({time, landmark});
}

Record Recorder::Finish() {
    if (haveLast_ && !lastKept_)
        record_.samples.push_back(last_);
    lastKept_ = true;
    return record_;
}

} // namespace drive_record
