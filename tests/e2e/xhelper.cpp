// Small X11 helper for the end-to-end test, for what xdotool cannot do:
//   xhelper tray            exit 0 when a notification area (system tray) owns its selection
//   xhelper close WINDOW    ask a window to close (WM_DELETE_WINDOW), as a close box would
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int TrayOwned(Display* display) {
    const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(display));
    const Atom selection = XInternAtom(display, name.c_str(), False);
    return XGetSelectionOwner(display, selection) != None ? 0 : 1;
}

int Close(Display* display, const char* id) {
    const Window window = static_cast<Window>(std::strtoul(id, nullptr, 0));
    XEvent event;
    std::memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    return sent ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s tray | close WINDOW\n", argv[0]);
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "cannot open display\n");
        return 2;
    }
    int status = 2;
    if (std::strcmp(argv[1], "tray") == 0)
        status = TrayOwned(display);
    else if (std::strcmp(argv[1], "close") == 0 && argc > 2)
        status = Close(display, argv[2]);
    XCloseDisplay(display);
    return status;
}
