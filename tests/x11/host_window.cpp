// Another program's window, for the preview and owner tests: opens a plain
// window of the given size, prints its id and stays until killed.
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    int width = argc > 1 ? std::atoi(argv[1]) : 400;
    int height = argc > 2 ? std::atoi(argv[2]) : 300;
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) return 1;
    Window w = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 10, 10, static_cast<unsigned>(width),
                                   static_cast<unsigned>(height), 0, 0, WhitePixel(dpy, DefaultScreen(dpy)));
    XStoreName(dpy, w, "host window");
    XSelectInput(dpy, w, StructureNotifyMask);
    XMapWindow(dpy, w);
    XEvent ev;
    do XNextEvent(dpy, &ev);
    while (ev.type != MapNotify);
    std::printf("%lu\n", static_cast<unsigned long>(w));
    std::fflush(stdout);
    for (;;) XNextEvent(dpy, &ev);
}
