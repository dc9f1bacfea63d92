#include "core/console.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {
std::string* captureTarget = nullptr;
// The progress line written last, while nothing else has been written after it.
std::string standingProgress;
std::FILE* errorCopy = nullptr;
// The start of the line being said, while it may still be an error line.
std::string errorLine;
bool otherLine = false;

constexpr char errorMark[] = "ERROR: ";
constexpr size_t errorMarkSize = sizeof errorMark - 1;

// Text may arrive in pieces, and a progress line ends in '\r' with no line break.
void copyErrors(const std::string& text)
{
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find_first_of("\r\n", at);
        const size_t stop = end == std::string::npos ? text.size() : end;
        if (!otherLine) {
            errorLine.append(text, at, stop - at);
            const size_t n = std::min(errorLine.size(), errorMarkSize);
            otherLine = errorLine.compare(0, n, errorMark, n) != 0;
        }
        if (end == std::string::npos)
            return;
        if (text[end] == '\n' && !otherLine && errorLine.size() >= errorMarkSize) {
            errorLine += '\n';
            std::fwrite(errorLine.data(), 1, errorLine.size(), errorCopy);
            std::fflush(errorCopy);
        }
        errorLine.clear();
        otherLine = false;
        at = end + 1;
    }
}
}

void sayText(const std::string& text)
{
    // The same progress line again shows nothing new, and a log keeps every copy.
    const bool progress = !text.empty() && text.back() == '\r';
    if (progress && text == standingProgress)
        return;
    standingProgress = progress ? text : std::string();
    if (captureTarget) {
        captureTarget->append(text);
        return;
    }
    if (errorCopy)
        copyErrors(text);
    std::fwrite(text.data(), 1, text.size(), stdout);
    // A progress line overwrites itself with '\r'; show it now rather than when the buffer
    // fills.
    if (progress)
        std::fflush(stdout);
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

void copyErrorLines(std::FILE* to)
{
    errorCopy = to;
    errorLine.clear();
    otherLine = false;
}

consoleCapture::consoleCapture() : previous(captureTarget)
{
    captureTarget = &collected;
    standingProgress.clear();
}

consoleCapture::~consoleCapture()
{
    captureTarget = previous;
    standingProgress.clear();
}
