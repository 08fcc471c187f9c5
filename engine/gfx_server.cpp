// The graphics servers: display-mode strings and the display's open state.
#include "gfx_server.h"

#include "runtime_classes.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <set>

namespace {

constexpr int kMaxSize = 16384;
constexpr int kMaxDepth = 64;
constexpr int kMaxDevice = 15;

bool ParseWhole(const std::string& text, int& value) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    auto [ptr, ec] = std::from_chars(begin, end, value);
    return ec == std::errc() && ptr == end && !text.empty();
}

std::string SizeText(const DisplayMode& mode) {
    return std::to_string(mode.width) + "x" + std::to_string(mode.height);
}

} // namespace

bool ParseDisplayMode(const std::string& text, DisplayMode& mode, std::string& error) {
    static const std::set<std::string> known = {"dev", "type", "w", "h", "bpp", "zbuf"};
    if (text.empty()) {
        error = "empty mode string";
        return false;
    }
    DisplayMode parsed = mode;
    std::set<std::string> seen;
    size_t pos = 0;
    while (true) {
        size_t open = text.find('(', pos);
        size_t dash = text.find('-', pos);
        if (open == std::string::npos || (dash != std::string::npos && dash < open)) {
            std::string field = text.substr(pos, std::min(dash, text.size()) - pos);
            error = field.empty() ? "empty field" : "missing '(' after '" + field + "'";
            return false;
        }
        std::string name = text.substr(pos, open - pos);
        if (!known.count(name)) {
            error = "unknown field '" + name + "'";
            return false;
        }
        if (!seen.insert(name).second) {
            error = "field '" + name + "' given twice";
            return false;
        }
        size_t close = text.find(')', open + 1);
        if (close == std::string::npos) {
            error = "missing ')' after '" + text.substr(pos) + "'";
            return false;
        }
        if (size_t nested = text.find('(', open + 1); nested < close) {
            std::string value = text.substr(open + 1, nested - open - 1);
            value = value.substr(0, value.find('-'));
            error = "missing ')' after '" + name + "(" + value + "'";
            return false;
        }
        std::string value = text.substr(open + 1, close - open - 1);
        if (name == "type") {
            if (value == "full")
                parsed.fullscreen = true;
            else if (value == "win" || value == "windowed")
                parsed.fullscreen = false;
            else {
                error = "unknown type '" + value + "'";
                return false;
            }
        } else {
            int number = 0;
            if (!ParseWhole(value, number)) {
                error = "'" + value + "' in " + name + "() is not a whole number";
                return false;
            }
            if ((name == "w" || name == "h") && number <= 0) {
                error = "zero or negative size " + name + "(" + value + ")";
                return false;
            }
            int low = (name == "bpp" || name == "w" || name == "h") ? 1 : 0;
            int high = name == "dev"                  ? kMaxDevice
                       : (name == "w" || name == "h") ? kMaxSize
                                                      : kMaxDepth;
            if (number < low || number > high) {
                error = name + "(" + value + ") is out of range " + std::to_string(low) + ".." +
                        std::to_string(high);
                return false;
            }
            if (name == "dev")
                parsed.device = number;
            else if (name == "w")
                parsed.width = number;
            else if (name == "h")
                parsed.height = number;
            else if (name == "bpp")
                parsed.bpp = number;
            else
                parsed.zbuf = number;
        }
        pos = close + 1;
        if (pos == text.size())
            break;
        if (text[pos] != '-') {
            error = "unexpected '" + text.substr(pos, 1) + "' after '" + name + "(" + value + ")'";
            return false;
        }
        ++pos;
        if (pos == text.size()) {
            error = "empty field";
            return false;
        }
    }
    mode = parsed;
    return true;
}

std::string FormatDisplayMode(const DisplayMode& mode) {
    std::string text = "dev(" + std::to_string(mode.device) + ")-";
    if (mode.fullscreen)
        text += "type(full)-";
    text += "w(" + std::to_string(mode.width) + ")-h(" + std::to_string(mode.height) + ")-bpp(" +
            std::to_string(mode.bpp) + ")-zbuf(" + std::to_string(mode.zbuf) + ")";
    return text;
}

bool nRenderServer::SetDisplayMode(const char* text) {
    std::string modeText = text ? text : "";
    DisplayMode parsed;
    std::string error;
    if (!ParseDisplayMode(modeText, parsed, error)) {
        n_printf("ERROR: gfx: bad display mode '%s': %s; using 1024x768x32 windowed\n",
                 modeText.c_str(), error.c_str());
        mode_ = DisplayMode{};
        return false;
    }
    mode_ = parsed;
    n_printf("gfx: display mode %s -> %sx%d %s\n", modeText.c_str(), SizeText(mode_).c_str(),
             mode_.bpp, mode_.fullscreen ? "full" : "windowed");
    return true;
}

bool nRenderServer::OpenDisplay() {
    if (open_)
        return true;
    open_ = true;
    n_printf("gfx: display opened %s %s\n", SizeText(mode_).c_str(),
             mode_.fullscreen ? "full" : "windowed");
    return true;
}

void nRenderServer::CloseDisplay() {
    if (!open_)
        return;
    open_ = false;
    n_printf("gfx: display closed\n");
}

nCallStatus nRenderServer::Call(const std::string& method, const std::vector<std::string>& args,
                                std::string& result) {
    auto noArgs = [&](const std::function<void()>& action) {
        if (!args.empty()) {
            result = method + ": no arguments expected";
            return nCallStatus::Error;
        }
        action();
        return nCallStatus::Ok;
    };
    if (method == "setdisplaymode") {
        if (args.size() != 1) {
            result = "setdisplaymode: one mode string expected";
            return nCallStatus::Error;
        }
        std::string error;
        DisplayMode check;
        if (!ParseDisplayMode(args[0], check, error)) {
            SetDisplayMode(args[0].c_str());
            result = "bad display mode '" + args[0] + "': " + error;
            return nCallStatus::Error;
        }
        SetDisplayMode(args[0].c_str());
        result = FormatDisplayMode(mode_);
        return nCallStatus::Ok;
    }
    if (method == "getdisplaymode")
        return noArgs([&] { result = FormatDisplayMode(mode_); });
    if (method == "opendisplay")
        return noArgs([&] { result.assign(1, OpenDisplay() ? '1' : '0'); });
    if (method == "closedisplay")
        return noArgs([&] {
            CloseDisplay();
            result.clear();
        });
    if (method == "isdisplayopen")
        return noArgs([&] { result.assign(1, open_ ? '1' : '0'); });
    return nGfxServer::Call(method, args, result);
}

void RegisterGfxClasses(nKernelServer* kernel) {
    kernel->AddClass("nglserver", [] { return new nRenderServer; });
    kernel->AddClass("nd3d8server", [] { return new nRenderServer; });
}
