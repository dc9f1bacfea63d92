#pragma once

#include "core/bitmap.h"

#include <memory>
#include <string>
#include <vector>

// Runs real viewer programs on a virtual X display of their own and drives them with
// xdotool, as a person at the keyboard and mouse would.

// A private virtual X server; it stops when the object goes.
class virtualDisplay {
public:
    virtualDisplay();
    ~virtualDisplay();
    virtualDisplay(const virtualDisplay&) = delete;
    virtualDisplay& operator=(const virtualDisplay&) = delete;

    bool ok() const { return !name.empty(); }
    const std::string& display() const { return name; }

private:
    int pid = -1;
    std::string name; // ":N"
};

// One viewer process with its standard output captured in a file.
class viewerProcess {
public:
    viewerProcess(const virtualDisplay& x, const std::string& program, const std::vector<std::string>& args,
                  const std::string& workingDirectory);
    ~viewerProcess();
    viewerProcess(const viewerProcess&) = delete;
    viewerProcess& operator=(const viewerProcess&) = delete;

    std::string output() const;
    // The exit status once the program has ended within the time, else -1.
    int waitForExit(double seconds);
    // Waits until the output contains text (true) or the time runs out or the program ends.
    bool waitForOutput(const std::string& text, double seconds = 120) const;
    bool running() const;

    // The program's window, found by its title once it is shown; empty when it never shows.
    std::string waitForWindow(const std::string& title, double seconds = 120);

    // Input through the X test extension, so it arrives as real key and pointer events.
    void key(const std::string& keys);
    void drag(int button, int fromX, int fromY, int toX, int toY);
    // Clicks of the wheel over the window's middle: X button 4 turns it up, 5 down.
    void wheel(int button, int clicks);
    void resize(int width, int height);
    // As a window manager's close button does it (WM_DELETE_WINDOW), and from outside.
    void closeWindow();
    void destroyWindow();

private:
    std::string xdotool(const std::string& arguments) const;

    const virtualDisplay& x;
    int pid = -1;
    mutable int status = -1; // the exit status, once reaped
    std::string outputPath;
    std::string window;
};

// Sends the window the WM_DELETE_WINDOW message of a window manager's close button (Xlib
// stays in its own file: its macros clash with the test framework's names).
void sendCloseRequest(const std::string& display, unsigned long window);

// A fresh empty folder under the test temp folder.
std::string makeTempFolder(const std::string& name);
void removeFolder(const std::string& path);
// Waits until the file exists and stays the same size for a moment; false on time-out.
bool waitForFile(const std::string& path, double seconds = 30);
// Reads a BMP file, quietly.
std::unique_ptr<bitmap> readBmpQuietly(const std::string& path);

// One program run in a fresh folder on a display of its own, with frame capture by key C.
// The folder is removed afterwards unless the test failed, so that its files can be looked at.
struct programRun {
    std::string folder;
    virtualDisplay x;
    std::unique_ptr<viewerProcess> viewer;
    int frames = 0;

    // prepare writes the program's input files into the folder before it starts.
    programRun(const std::string& program, const std::vector<std::string>& args, const std::string& name,
               void (*prepare)(const std::string& folder));
    ~programRun();

    // True once the window with this title shows.
    bool started(const std::string& title);
    // Presses C and returns the new frame, or none when it does not appear.
    std::unique_ptr<bitmap> capture();
    bool exists(const std::string& file) const;
};
