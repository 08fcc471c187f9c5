// The engine log (home:n_runlog.txt once the kernel's Log names it) and the assertion report.
#include "engine/kernel.h"

#include "format_text.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct LogState {
    std::FILE* file = nullptr;
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
    if (s.file) {
        std::fclose(s.file);
        s.file = nullptr;
    }
    if (!path)
        return;
    s.path = path;
    s.file = std::fopen(path, "a");
    if (!s.file)
        std::fprintf(stderr, "pelox: cannot open the engine log %s\n", path);
}

void n_printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatText(format, args);
    va_end(args);

    auto& s = State();
    if (s.file) {
        std::fwrite(text.data(), 1, text.size(), s.file);
        std::fflush(s.file);
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
