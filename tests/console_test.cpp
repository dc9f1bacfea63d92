#include "core/console.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

// What reached standard output and the copy of the error lines while sayAll ran.
struct copied {
    std::string report;
    std::string errors;
};

std::string contents(std::FILE* file)
{
    std::string text;
    std::rewind(file);
    char buffer[256];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, got);
    std::fclose(file);
    return text;
}

template <typename Say>
copied sayWithCopies(Say sayAll)
{
    copied out;
    std::FILE* report = std::tmpfile();
    std::FILE* errors = std::tmpfile();
    if (!report || !errors) {
        ADD_FAILURE() << "no temporary files";
        return out;
    }
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    dup2(fileno(report), STDOUT_FILENO);
    copyErrorLines(errors);
    sayAll();
    copyErrorLines(nullptr);
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    out.report = contents(report);
    out.errors = contents(errors);
    return out;
}

TEST(ConsoleErrorCopy, ErrorLinesOnlyWholeAndOnce)
{
    copied c = sayWithCopies([] {
        say("Object Data: \n\n");
        say("ERROR: File '%s' could not be opened!\n", "a.bmp");
        sayText("Setting bumpmap 'ERROR: not one.bmp'!\n");
        sayText(" ERROR: indented, not one\nERROR: two in one piece\nERROR: of text\nlast\n");
    });
    EXPECT_EQ(c.report, "Object Data: \n\nERROR: File 'a.bmp' could not be opened!\n"
                        "Setting bumpmap 'ERROR: not one.bmp'!\n"
                        " ERROR: indented, not one\nERROR: two in one piece\nERROR: of text\nlast\n");
    EXPECT_EQ(c.errors, "ERROR: File 'a.bmp' could not be opened!\nERROR: two in one piece\nERROR: of text\n");
}

TEST(ConsoleErrorCopy, LinesSaidInPieces)
{
    copied c = sayWithCopies([] {
        sayText("ERR");
        sayText("OR");
        sayText(": whole at last");
        sayText("!\n");
        sayText("ERRAND\n");
        sayText("ERROR:no blank\n");
    });
    EXPECT_EQ(c.errors, "ERROR: whole at last!\n");
}

TEST(ConsoleErrorCopy, AfterAProgressLine)
{
    copied c = sayWithCopies([] {
        sayText("Generating Alpha Map: 50%\r");
        sayText("Generating Alpha Map: 100%\rERROR: Object has no polygons! (a.obj)\n");
        sayText("Writing object 1 of 2\r");
        sayText("ERROR: Could not write PNG file 'out/final00.png'!\n");
        // Text that ends in '\r' is a progress line, whatever it starts with.
        sayText("Tracing: 10%\rERROR: cut short\rTracing: 100%\n");
    });
    EXPECT_EQ(c.errors, "ERROR: Object has no polygons! (a.obj)\nERROR: Could not write PNG file 'out/final00.png'!\n");
}

TEST(ConsoleErrorCopy, StopsWhenToldTo)
{
    copied c = sayWithCopies([] {
        sayText("ERROR: copied\n");
        copyErrorLines(nullptr);
        sayText("ERROR: not copied\n");
    });
    EXPECT_EQ(c.errors, "ERROR: copied\n");
    EXPECT_EQ(c.report, "ERROR: copied\nERROR: not copied\n");
}

// Text that a capture keeps from standard output, as a decoder's quiet second try, is no
// error of the program's.
TEST(ConsoleErrorCopy, CapturedTextIsNotCopied)
{
    copied c = sayWithCopies([] {
        {
            consoleCapture quiet;
            sayText("ERROR: kept quiet\n");
        }
        sayText("ERROR: said\n");
    });
    EXPECT_EQ(c.report, "ERROR: said\n");
    EXPECT_EQ(c.errors, "ERROR: said\n");
}

// A line left unfinished when the copy stops is not carried into the next one.
TEST(ConsoleErrorCopy, StartsAfresh)
{
    copied first = sayWithCopies([] { sayText("ERROR: never finished"); });
    copied second = sayWithCopies([] { sayText(" tail\n"); });
    EXPECT_EQ(first.errors, "");
    EXPECT_EQ(second.errors, "");
}

} // namespace
