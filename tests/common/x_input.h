// Synthetic input for whole-program tests through the X server's XTEST
// extension: keys and clicks travel as a real keyboard's and mouse's do, to
// the window under the pointer, sent once the window is viewable with the
// pointer over it. A window that closes on a key cannot fail its release.
#pragma once
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "common/whole_program.h"

class XInput {
 public:
  // From here on, notes the top-level windows made on $DISPLAY.
  XInput() {
    if (x_ == nullptr) return;
    XSelectInput(x_, DefaultRootWindow(x_), SubstructureNotifyMask);
    XSync(x_, False);
  }

  // The next of those windows to be viewable, reading `program` meanwhile; 0
  // after `ms`. The programs' windows carry no name or process id, and a
  // window made after another has gone may get its id.
  Window next_window(Program& program, double ms) {
    ErrorTrap trap;
    for (double end = get_milliseconds() + ms; x_ != nullptr && get_milliseconds() < end; program.read_for(50)) {
      for (XEvent e; XPending(x_) > 0;) {
        XNextEvent(x_, &e);
        if (e.type == CreateNotify) made_.push_back(e.xcreatewindow.window);
        if (e.type == DestroyNotify) std::erase(made_, e.xdestroywindow.window);
      }
      XWindowAttributes a;
      for (Window w : made_) {
        if (!viewable(w, a)) continue;
        std::erase(made_, w);
        return w;
      }
    }
    return 0;
  }

  // Presses keysyms joined by '+' in order, then releases them in reverse:
  // "Escape", "Alt_L+Return".
  bool key(Window w, const std::string& keys) {
    std::vector<KeyCode> codes;
    for (size_t at = 0, end = 0; x_ != nullptr && end < keys.size(); at = end + 1) {
      end = std::min(keys.find('+', at), keys.size());
      codes.push_back(XKeysymToKeycode(x_, XStringToKeysym(keys.substr(at, end - at).c_str())));
    }
    return std::count(codes.begin(), codes.end(), 0) == 0 && send(w, -1, -1, [&] {
      for (KeyCode code : codes) XTestFakeKeyEvent(x_, code, True, CurrentTime);
      for (auto code = codes.rbegin(); code != codes.rend(); ++code) XTestFakeKeyEvent(x_, *code, False, CurrentTime);
    });
  }

  bool click(Window w, int x, int y) {
    return send(w, x, y, [&] {
      XTestFakeButtonEvent(x_, 1, True, CurrentTime);
      XTestFakeButtonEvent(x_, 1, False, CurrentTime);
    });
  }

  // Asks `w` to close as a window manager's close button does.
  bool close(Window w) {
    ErrorTrap trap;
    if (x_ == nullptr || w == None) return false;  // None would mean the window under the pointer
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = w;
    event.xclient.message_type = XInternAtom(x_, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(x_, "WM_DELETE_WINDOW", False));
    XSendEvent(x_, w, False, NoEventMask, &event);
    XSync(x_, False);
    return errors_ == 0;  // no BadWindow
  }

 private:
  // Xlib's default handler ends the process on an error, such as BadWindow
  // for a window that has just gone: while a call here runs, count them.
  static inline int errors_ = 0;
  struct ErrorTrap {
    XErrorHandler previous = XSetErrorHandler([](Display*, XErrorEvent*) { return ++errors_, 0; });
    ErrorTrap() { errors_ = 0; }
    ~ErrorTrap() { XSetErrorHandler(previous); }
  };

  bool viewable(Window w, XWindowAttributes& a) {
    return XGetWindowAttributes(x_, w, &a) && a.map_state == IsViewable;
  }

  // Moves the pointer to (x, y) in `w`, its centre for -1, and sends the
  // events once nothing hides that point; false if that takes over 10 s.
  template <class Events>
  bool send(Window w, int x, int y, Events events) {
    ErrorTrap trap;
    for (double end = get_milliseconds() + 10000; x_ != nullptr && get_milliseconds() < end; inthread_sleep(20)) {
      XWindowAttributes a;
      int at_x, at_y, unused;
      unsigned int mask;
      Window root, over;
      if (!viewable(w, a) || !XTranslateCoordinates(x_, w, a.root, x < 0 ? a.width / 2 : x,
                                                    y < 0 ? a.height / 2 : y, &at_x, &at_y, &over))
        continue;
      XTestFakeMotionEvent(x_, XScreenNumberOfScreen(a.screen), at_x, at_y, CurrentTime);
      if (!XQueryPointer(x_, a.root, &root, &over, &at_x, &at_y, &unused, &unused, &mask) || over != w) continue;
      events();
      XSync(x_, False);
      return true;
    }
    return false;
  }

  std::unique_ptr<Display, decltype(&XCloseDisplay)> display_{XOpenDisplay(nullptr), XCloseDisplay};
  Display* x_ = display_.get();
  std::vector<Window> made_;  // in the order they were made
};
