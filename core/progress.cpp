#include "core/progress.h"

#include "core/console.h"

#include <cstdio>
#include <cstring>

int progressPercent(int64_t counter, int64_t total)
{
    float step = 100.0f / static_cast<float>(total);
    float percent = step * static_cast<float>(counter);
    // Casting an out-of-range float is undefined; only a zero total gets here.
    if (!(percent > -2147483648.0f && percent < 2147483648.0f))
        return 0;
    return static_cast<int>(percent);
}

void sayProgress(const char* title, int percent)
{
    char line[256];
    std::snprintf(line, sizeof line, "%s%d%%\r", title, percent);
    sayText(line);
}

void progressLine::say(int percent)
{
    if (!formatted || percent != shown) {
        char line[256];
        std::snprintf(line, sizeof line, "%s%d%%\r", title, percent);
        text = line;
        shown = percent;
        formatted = true;
    }
    sayText(text);
}
