// bake: a scene's lighting baked into lightmaps and written out with its meshes, without a
// window or a display.

#include "core/console.h"
#include "viewer/bake.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    // A script that runs bake finds its errors apart from the report.
    copyErrorLines(stderr);
    bakeOptions options;
    std::string problem;
    if (!parseBakeArguments(std::vector<std::string>(argv + 1, argv + argc), options, problem)) {
        sayText("ERROR: " + problem + "!\n");
        if (options.showUsage)
            sayText(bakeUsage);
        return 2;
    }
    if (options.help) {
        sayText(bakeUsage);
        return 0;
    }
    useLineBufferedConsole();
    return runBake(options);
}
