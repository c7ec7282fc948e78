// Starts a built application, waits for its window, checks the window's size,
// asks it to close the way a window manager's close button does
// (WM_DELETE_WINDOW), or with a signal, as a terminal's Ctrl+C or a logout does,
// and expects the application to quit at once and cleanly, as it does when no
// update is running.
//
//   qb4ii_app_smoke_test [--signal INT|TERM] TITLE WIDTH HEIGHT APP [ARGS...]
//
// Exits 0 on success, 1 on failure, 77 (skipped) without an X display.

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{
    using Clock = std::chrono::steady_clock;

    std::string readTextProperty (Display* display, Window window, const char* name)
    {
        Atom type;
        int format;
        unsigned long count, remaining;
        unsigned char* data = nullptr;
        std::string text;

        if (XGetWindowProperty (display, window, XInternAtom (display, name, False), 0, 1024, False, AnyPropertyType,
                                &type, &format, &count, &remaining, &data)
                == Success
            && data != nullptr)
        {
            if (type != None && format == 8)
                text.assign (reinterpret_cast<char*> (data), count);

            XFree (data);
        }

        return text;
    }

    /** " 3 4": the descriptors above stderr open without close-on-exec. */
    std::string inheritableDescriptors (pid_t pid)
    {
        std::string found, key, flags;
        for (const auto& entry : std::filesystem::directory_iterator ("/proc/" + std::to_string (pid) + "/fdinfo"))
            for (std::ifstream info (entry.path()); info >> key >> flags;)
                if (const int fd = std::stoi (entry.path().filename().string()); key == "flags:" && fd > 2 && (std::stoul (flags, nullptr, 8) & O_CLOEXEC) == 0)
                    found += " " + std::to_string (fd);
        return found;
    }

    std::string windowTitle (Display* display, Window window)
    {
        const auto title = readTextProperty (display, window, "_NET_WM_NAME");
        return title.empty() ? readTextProperty (display, window, "WM_NAME") : title;
    }

    /** The process id the window's owner gave it (_NET_WM_PID), or -1. */
    long windowPid (Display* display, Window window)
    {
        Atom type;
        int format;
        unsigned long count, remaining;
        unsigned char* data = nullptr;
        long pid = -1;

        if (XGetWindowProperty (display, window, XInternAtom (display, "_NET_WM_PID", False), 0, 1, False, XA_CARDINAL,
                                &type, &format, &count, &remaining, &data)
                == Success
            && data != nullptr)
        {
            if (type == XA_CARDINAL && format == 32 && count == 1)
                pid = *reinterpret_cast<long*> (data);

            XFree (data);
        }

        return pid;
    }

    /** The viewable window with this title that the process owns: the tests share
        one display, and the app and the demo share their title. */
    Window findWindow (Display* display, Window parent, const std::string& title, pid_t pid, int depth)
    {
        Window root, parentOut, *children = nullptr;
        unsigned int count = 0;

        if (XQueryTree (display, parent, &root, &parentOut, &children, &count) == 0)
            return 0;

        Window found = 0;

        for (unsigned int i = 0; i < count && found == 0; ++i)
        {
            XWindowAttributes attributes;
            if (XGetWindowAttributes (display, children[i], &attributes) != 0
                && attributes.map_state == IsViewable
                && windowTitle (display, children[i]) == title && windowPid (display, children[i]) == (long) pid)
                found = children[i];
            else if (depth > 0)
                found = findWindow (display, children[i], title, pid, depth - 1);
        }

        if (children != nullptr)
            XFree (children);

        return found;
    }

    std::string peakMemory (pid_t pid)
    {
        std::ifstream status ("/proc/" + std::to_string (pid) + "/status");
        for (std::string line; std::getline (status, line);)
            if (line.rfind ("VmHWM:", 0) == 0)
                return line.substr (6);
        return "?";
    }

    long long millisecondsSince (Clock::time_point start)
    {
        return std::chrono::duration_cast<std::chrono::milliseconds> (Clock::now() - start).count();
    }
} // namespace

int main (int argc, char** argv)
{
    int quitSignal = 0;

    if (argc > 2 && std::strcmp (argv[1], "--signal") == 0)
    {
        quitSignal = std::strcmp (argv[2], "INT") == 0 ? SIGINT : std::strcmp (argv[2], "TERM") == 0 ? SIGTERM
                                                                                                     : -1;
        argc -= 2;
        argv += 2;
    }

    if (argc < 5 || quitSignal < 0)
    {
        std::fprintf (stderr, "usage: qb4ii_app_smoke_test [--signal INT|TERM] TITLE WIDTH HEIGHT APP [ARGS...]\n");
        return 1;
    }

    Display* display = XOpenDisplay (nullptr);
    if (display == nullptr)
    {
        std::printf ("skipped: no X display (the test suite runs under xvfb-run)\n");
        return 77;
    }

    // Windows of other tests on the same display come and go while the tree is
    // walked: a request about one that is gone fails, and is skipped.
    XSetErrorHandler ([] (Display*, XErrorEvent*) { return 0; });

    // A desktop's window manager has created these long before any app starts.
    // On a bare X server nothing has, and JUCE, which only looks them up, would
    // ignore every close request. This connection stays open, so the server
    // keeps them while the app runs.
    for (const char* atom : { "WM_PROTOCOLS", "WM_DELETE_WINDOW", "WM_TAKE_FOCUS", "_NET_WM_PING" })
        XInternAtom (display, atom, False);
    XSync (display, False);

    const std::string title = argv[1];
    const int width = std::atoi (argv[2]), height = std::atoi (argv[3]);
    const auto start = Clock::now();

    const pid_t pid = fork();
    if (pid == 0)
    {
        execv (argv[4], argv + 4);
        std::perror ("exec");
        _exit (127);
    }

    auto fail = [pid] (const char* why) {
        std::printf ("FAIL: %s\n", why);
        kill (pid, SIGKILL);
        waitpid (pid, nullptr, 0);
        return 1;
    };

    Window window = 0;
    while ((window = findWindow (display, DefaultRootWindow (display), title, pid, 2)) == 0)
    {
        if (millisecondsSince (start) > 15000)
            return fail ("the window never appeared");

        if (waitpid (pid, nullptr, WNOHANG) == pid)
        {
            std::printf ("FAIL: the app exited before showing its window\n");
            return 1;
        }

        std::this_thread::sleep_for (std::chrono::milliseconds (10));
    }

    // The window may be mapped before it takes its size: wait for that, briefly.
    XWindowAttributes attributes;
    const auto foundAt = Clock::now();

    while (XGetWindowAttributes (display, window, &attributes) != 0
           && (attributes.width != width || attributes.height != height) && millisecondsSince (foundAt) < 2000)
        std::this_thread::sleep_for (std::chrono::milliseconds (10));

    std::printf ("window \"%s\" %dx%d after %lld ms; peak memory so far:%s\n", title.c_str(),
                 attributes.width, attributes.height, millisecondsSince (start), peakMemory (pid).c_str());

    if (attributes.width != width || attributes.height != height)
        return fail ("the window has the wrong size");

    // The app (not Wine's loader, which passes its own on) passes nothing to its children.
    const bool throughWine = std::filesystem::path (argv[4]).filename().string().rfind ("wine", 0) == 0;
    if (const auto leaks = inheritableDescriptors (pid); ! leaks.empty() && ! throughWine)
        return fail (("descriptors" + leaks + " would pass to the programs it starts").c_str());

    if (quitSignal != 0)
    {
        kill (pid, quitSignal);
    }
    else
    {
        XEvent event {};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom (display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = (long) XInternAtom (display, "WM_DELETE_WINDOW", False);
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent (display, window, False, NoEventMask, &event);
        XSync (display, False);
    }

    const auto closedAt = Clock::now();
    int status = 0;

    while (waitpid (pid, &status, WNOHANG) != pid)
    {
        if (millisecondsSince (closedAt) > 5000)
            return fail ("still running 5 s after the close request");

        std::this_thread::sleep_for (std::chrono::milliseconds (10));
    }

    if (! WIFEXITED (status) || WEXITSTATUS (status) != 0)
    {
        std::printf ("FAIL: the app did not exit cleanly (status %d)\n", status);
        return 1;
    }

    std::printf ("quit %lld ms after the close request\n", millisecondsSince (closedAt));
    XCloseDisplay (display);
    return 0;
}
