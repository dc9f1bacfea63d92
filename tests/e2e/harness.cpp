#include "tests/e2e/harness.h"

#include "core/console.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

using clock_type = std::chrono::steady_clock;

void pause(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

double since(clock_type::time_point start)
{
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

std::string runCommand(const std::string& command)
{
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, got);
    pclose(pipe);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return out;
}

void stopProcess(int pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 50; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        pause(0.05);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

} // namespace

virtualDisplay::virtualDisplay()
{
    int fds[2];
    if (pipe(fds) != 0)
        return;
    pid = fork();
    if (pid == 0) {
        close(fds[0]);
        int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 1);
        dup2(quiet, 2);
        std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    // The server writes its display number once it accepts connections.
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (number.empty())
        return;
    // Make sure a client really gets through before the programs start.
    for (int i = 0; i < 100; ++i) {
        if (!runCommand("DISPLAY=:" + number + " xdotool getdisplaygeometry 2>/dev/null").empty()) {
            name = ":" + number;
            return;
        }
        pause(0.05);
    }
}

virtualDisplay::~virtualDisplay() { stopProcess(pid); }

viewerProcess::viewerProcess(const virtualDisplay& x, const std::string& program, const std::vector<std::string>& args,
                             const std::string& workingDirectory)
    : x(x)
{
    outputPath = workingDirectory + "/console.txt";
    pid = fork();
    if (pid == 0) {
        if (chdir(workingDirectory.c_str()) != 0)
            _exit(126);
        int out = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(out, 2);
        setenv("DISPLAY", x.display().c_str(), 1);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
}

viewerProcess::~viewerProcess()
{
    if (running())
        stopProcess(pid);
}

std::string viewerProcess::output() const
{
    std::ifstream in(outputPath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool viewerProcess::running() const
{
    if (pid <= 0 || status != -1)
        return false;
    int how = 0;
    if (waitpid(pid, &how, WNOHANG) == 0)
        return true;
    status = WIFEXITED(how) ? WEXITSTATUS(how) : 128 + (WIFSIGNALED(how) ? WTERMSIG(how) : 0);
    return false;
}

int viewerProcess::waitForExit(double seconds)
{
    auto start = clock_type::now();
    while (running() && since(start) < seconds)
        pause(0.05);
    return running() ? -1 : status;
}

bool viewerProcess::waitForOutput(const std::string& text, double seconds) const
{
    auto start = clock_type::now();
    while (since(start) < seconds) {
        if (output().find(text) != std::string::npos)
            return true;
        if (!running())
            return output().find(text) != std::string::npos;
        pause(0.05);
    }
    return false;
}

std::string viewerProcess::xdotool(const std::string& arguments) const
{
    return runCommand("DISPLAY=" + x.display() + " xdotool " + arguments + " 2>/dev/null");
}

std::string viewerProcess::waitForWindow(const std::string& title, double seconds)
{
    auto start = clock_type::now();
    while (since(start) < seconds && running()) {
        std::string found = xdotool("search --onlyvisible --name '^" + title + "$'");
        if (!found.empty()) {
            window = found.substr(0, found.find('\n'));
            xdotool("windowfocus --sync " + window);
            return window;
        }
        pause(0.1);
    }
    return "";
}

void viewerProcess::key(const std::string& keys)
{
    xdotool("windowfocus --sync " + window);
    xdotool("key --delay 50 " + keys);
}

void viewerProcess::wheel(int button, int clicks)
{
    xdotool("mousemove --window " + window + " 360 288");
    xdotool("click --repeat " + std::to_string(clicks) + " --delay 20 " + std::to_string(button));
}

void viewerProcess::drag(int button, int fromX, int fromY, int toX, int toY)
{
    std::string b = std::to_string(button);
    xdotool("mousemove --window " + window + " " + std::to_string(fromX) + " " + std::to_string(fromY));
    xdotool("mousedown " + b);
    const int steps = 8;
    for (int i = 1; i <= steps; ++i) {
        int px = fromX + (toX - fromX) * i / steps, py = fromY + (toY - fromY) * i / steps;
        xdotool("mousemove --window " + window + " " + std::to_string(px) + " " + std::to_string(py));
        pause(0.02);
    }
    xdotool("mouseup " + b);
}

void viewerProcess::resize(int width, int height)
{
    xdotool("windowsize --sync " + window + " " + std::to_string(width) + " " + std::to_string(height));
    // Give the program time to redraw at the new size before anything is captured.
    pause(0.5);
}

void viewerProcess::closeWindow() { sendCloseRequest(x.display(), std::stoul(window)); }

void viewerProcess::destroyWindow() { xdotool("windowclose " + window); }

std::string makeTempFolder(const std::string& name)
{
    std::string path = testing::TempDir() + "e2e_" + std::to_string(getpid()) + "_" + name;
    runCommand("rm -rf '" + path + "'");
    mkdir(path.c_str(), 0755);
    return path;
}

void removeFolder(const std::string& path) { runCommand("rm -rf '" + path + "'"); }

bool waitForFile(const std::string& path, double seconds)
{
    auto start = clock_type::now();
    long lastSize = -1;
    while (since(start) < seconds) {
        struct stat st;
        if (stat(path.c_str(), &st) == 0) {
            if (st.st_size == lastSize && st.st_size > 0)
                return true;
            lastSize = st.st_size;
        }
        pause(0.1);
    }
    return false;
}

std::unique_ptr<bitmap> readBmpQuietly(const std::string& path)
{
    consoleCapture quiet;
    return readBmp(path);
}

programRun::programRun(const std::string& program, const std::vector<std::string>& args, const std::string& name,
                       void (*prepare)(const std::string& folder))
{
    folder = makeTempFolder(name);
    prepare(folder);
    if (x.ok())
        viewer = std::make_unique<viewerProcess>(x, program, args, folder);
}

programRun::~programRun()
{
    viewer.reset();
    if (!testing::Test::HasFailure())
        removeFolder(folder);
}

bool programRun::started(const std::string& title) { return viewer && !viewer->waitForWindow(title).empty(); }

std::unique_ptr<bitmap> programRun::capture()
{
    // Let the program draw a frame with whatever the last input changed (slow under the
    // sanitizers) before the capture reads it.
    pause(0.5);
    viewer->key("c");
    ++frames;
    char name[32];
    std::snprintf(name, sizeof name, "/frame%04d.bmp", frames);
    if (!viewer->waitForOutput("Outputing frame: " + std::to_string(frames) + "\n", 30) ||
        !waitForFile(folder + name))
        return nullptr;
    return readBmpQuietly(folder + name);
}

bool programRun::exists(const std::string& file) const
{
    struct stat st;
    return stat((folder + "/" + file).c_str(), &st) == 0;
}
