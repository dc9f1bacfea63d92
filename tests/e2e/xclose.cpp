#include "tests/e2e/harness.h"

#include <X11/Xlib.h>

void sendCloseRequest(const std::string& display, unsigned long window)
{
    Display* d = XOpenDisplay(display.c_str());
    if (!d)
        return;
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = window;
    e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, window, False, NoEventMask, &e);
    XCloseDisplay(d);
}
