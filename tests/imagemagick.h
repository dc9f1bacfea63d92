#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

// ImageMagick as an independent reference: it makes and decodes images for the tests.

// The output of a command, or nothing when it cannot run. ImageMagick fails on warnings it
// still writes every pixel for, so the exit status is not looked at.
inline std::string commandOutput(const std::string& command)
{
    std::string out;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
        out.append(chunk, n);
    pclose(pipe);
    return out;
}

// ImageMagick's own program: a convert earlier on the PATH may be a wrapper of it.
inline std::string convertProgram()
{
    return access("/usr/bin/convert", X_OK) == 0 ? "/usr/bin/convert" : "convert";
}

inline bool haveImageMagick()
{
    static const bool found =
        commandOutput(convertProgram() + " -version 2>/dev/null").find("ImageMagick") != std::string::npos;
    return found;
}

// For tests that need ImageMagick: they skip with a line where it is missing, and fail where
// the tools are required (RENDER_REQUIRE_TOOLS, as CI sets it).
#define REQUIRE_IMAGEMAGICK()                                                                    \
    do {                                                                                         \
        if (!haveImageMagick()) {                                                                \
            if (std::getenv("RENDER_REQUIRE_TOOLS"))                                             \
                FAIL() << "ImageMagick's convert is missing: tools/setup.sh installs it";        \
            GTEST_SKIP() << "ImageMagick's convert is not installed";                           \
        }                                                                                        \
    } while (0)

// convert with the given arguments; true when it succeeded.
inline bool convertImage(const std::string& arguments)
{
    return std::system((convertProgram() + " " + arguments + " 2>/dev/null").c_str()) == 0;
}
