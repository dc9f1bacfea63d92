#include "core/console.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {
std::string* captureTarget = nullptr;
std::string lastProgressLine;
}

void sayText(const std::string& text)
{
    if (captureTarget) {
        captureTarget->append(text);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    // A progress line overwrites itself with '\r'; show it now rather than when the buffer
    // fills, but only when it changed: long loops repeat the same percentage many times.
    if (!text.empty() && text.back() == '\r' && text != lastProgressLine) {
        lastProgressLine = text;
        std::fflush(stdout);
    }
}

void say(const char* format, ...)
{
    char small[512];
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) {
        va_end(copy);
        return;
    }
    if (static_cast<size_t>(n) < sizeof small) {
        va_end(copy);
        sayText(std::string(small, static_cast<size_t>(n)));
        return;
    }
    std::vector<char> big(static_cast<size_t>(n) + 1);
    std::vsnprintf(big.data(), big.size(), format, copy);
    va_end(copy);
    sayText(std::string(big.data(), static_cast<size_t>(n)));
}

void useLineBufferedConsole() { std::setvbuf(stdout, nullptr, _IOLBF, 1 << 16); }

consoleCapture::consoleCapture() : previous(captureTarget) { captureTarget = &collected; }

consoleCapture::~consoleCapture() { captureTarget = previous; }
