#pragma once

#include <cstdio>
#include <string>

// Every report, progress line and error goes through here, so that they reach standard
// output in the order they were made, whether it is a terminal or a pipe.
// For programs whose output is watched while they run: flush at every line end.
void useLineBufferedConsole();
// For programs whose errors are read apart from their report: every line written that starts
// with "ERROR: " is also written whole to `to` (none: no longer), and stays in the report.
void copyErrorLines(std::FILE* to);

void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void sayText(const std::string& text);

// While one exists, console text is collected in it instead of being written (for tests).
class consoleCapture {
public:
    consoleCapture();
    ~consoleCapture();
    consoleCapture(const consoleCapture&) = delete;
    consoleCapture& operator=(const consoleCapture&) = delete;

    std::string text() const { return collected; }
    void clear() { collected.clear(); }

private:
    std::string collected;
    std::string* previous;
};
