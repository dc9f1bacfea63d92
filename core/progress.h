#pragma once

#include <cstdint>
#include <string>

// 100 / total in single precision, times counter, truncated toward zero. Counters and totals
// are 64-bit because W x H x polygons passes 2^31 on real meshes.
int progressPercent(int64_t counter, int64_t total);

// Writes "<title><percent>%\r", the line that overwrites itself on a terminal; the console
// leaves out a line the same as the one it has just written.
void sayProgress(const char* title, int percent);

// sayProgress for a loop that reports after every step: the line is formatted again only
// when the percentage changes.
class progressLine {
public:
    explicit progressLine(const char* title) : title(title) {}
    void say(int percent);

private:
    const char* title;
    int shown = -1;
    bool formatted = false;
    std::string text;
};
