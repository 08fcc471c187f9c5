// The graphics servers "nglserver" and "nd3d8server": one class that validates and keeps the
// display mode and whether the display is open. The drive's window reads the mode from here.
#pragma once

#include "engine/services.h"

#include <string>

struct DisplayMode {
    int width = 1024, height = 768, bpp = 32, zbuf = 32;
    bool fullscreen = false;
    int device = 0;
};

// Parses "dev(0)-type(full)-w(1024)-h(768)-bpp(32)-zbuf(32)"; fields may be left out (their
// defaults stay). False with `error` saying why for an unknown field, a missing parenthesis,
// a value that is not a whole number, or a size out of range; `mode` is then unchanged.
bool ParseDisplayMode(const std::string& text, DisplayMode& mode, std::string& error);
// The mode as a mode string ("type(full)-" only when full screen).
std::string FormatDisplayMode(const DisplayMode& mode);

class nRenderServer : public nGfxServer {
public:
    // A malformed mode is logged and replaced by 1024x768x32 windowed; false then.
    bool SetDisplayMode(const char* mode) override;
    const DisplayMode& GetMode() const { return mode_; }
    bool OpenDisplay();
    void CloseDisplay();
    bool IsDisplayOpen() const { return open_; }

    // setdisplaymode <mode>, getdisplaymode, opendisplay, closedisplay, isdisplayopen
    nCallStatus Call(const std::string& method, const std::vector<std::string>& args,
                     std::string& result) override;

private:
    DisplayMode mode_;
    bool open_ = false;
};
