// The engine log (home:n_runlog.txt once the kernel's Log names it) and the assertion report.
#include "engine/kernel.h"

#include "engine/format_text.h"
#include "platform/file_system.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct LogState {
    platform::UniqueFile file;
    std::string path;
    nLogHook hook;
    nBarfHandler barf;
};

LogState& State() {
    static LogState state;
    return state;
}

} // namespace

void nKernelServer::Log(const char* path) {
    auto& s = State();
    s.file.reset();
    if (!path)
        return;
    s.path = path;
    // Only a regular file: a FIFO in the log's place would hold the start-up forever.
    platform::FileError error;
    s.file = platform::OpenFileForAppending(path, &error);
    if (!s.file)
        std::fprintf(stderr, "pelox: cannot open the engine log %s: %s\n", path,
                     error.text.c_str());
}

void n_printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatText(format, args);
    va_end(args);

    auto& s = State();
    if (s.file) {
        std::fwrite(text.data(), 1, text.size(), s.file.get());
        std::fflush(s.file.get());
    }
    if (s.hook)
        s.hook(text);
}

void n_setloghook(nLogHook hook) {
    State().hook = std::move(hook);
}
void n_setbarfhandler(nBarfHandler handler) {
    State().barf = std::move(handler);
}

void n_barf(const char* expression, const char* file, int line) {
    n_printf("*** ASSERTION FAILED ***\nexpression: %s\nfile: %s\nline: %d\n", expression, file,
             line);
    if (State().barf)
        State().barf(expression, file, line); // may throw (tests)
    std::fprintf(stderr, "pelox: assertion failed: %s (%s, line %d)\n", expression, file, line);
    std::abort();
}
