#include "viewer/window.h"

#include "core/console.h"
#include "viewer/scene.h"

#include <GL/glu.h>
#include <GL/glut.h>
#include <GL/glx.h>

#include <cstdio>
#include <unistd.h>

namespace {

GLXDrawable window = 0;
XErrorHandler previousHandler = nullptr;

// A window destroyed from outside (rather than closed through its button, which GLUT ends
// the program for) fails the next request that draws into it. That is the end of the run,
// not an error: leave quietly instead of through the default handler's report and status 1.
int onXError(Display* display, XErrorEvent* error)
{
    if ((error->error_code == BadWindow || error->error_code == BadDrawable) && window != 0 &&
        error->resourceid == window) {
        std::fflush(stdout);
        _exit(0);
    }
    return previousHandler ? previousHandler(display, error) : 0;
}

// A window destroyed while it is not being drawn (a program that draws on demand, or one that
// GLUT stopped drawing once the window was unmapped) would never make a request that fails.
// So the server is asked about the window now and then; once it is gone, the error handler
// above ends the run.
void checkWindowStillThere(int)
{
    if (Display* display = glXGetCurrentDisplay()) {
        XWindowAttributes attributes;
        XGetWindowAttributes(display, window, &attributes);
    }
    glutTimerFunc(250, checkWindowStillThere, 0);
}

} // namespace

void startViewer(int* argc, char** argv)
{
    useLineBufferedConsole();
    glutInit(argc, argv);
    say("%s\n", reinterpret_cast<const char*>(gluGetString(GLU_VERSION)));
    say("%s\n", reinterpret_cast<const char*>(gluGetString(GLU_EXTENSIONS)));
}

void openViewerWindow(const std::string& title)
{
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_DEPTH | GLUT_STENCIL);
    glutInitWindowSize(static_cast<int>(scene.windowWidth), static_cast<int>(scene.windowHeight));
    glutInitWindowPosition(100, 100);
    glutCreateWindow(title.c_str());
    window = glXGetCurrentDrawable();
    previousHandler = XSetErrorHandler(onXError);
    glutTimerFunc(250, checkWindowStillThere, 0);
}
