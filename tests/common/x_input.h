// Synthetic keys and clicks for whole-program tests, injected through the X
// server's XTEST extension: they travel as a real keyboard's and mouse's do,
// to the window under the pointer. Nothing is sent before the window is
// viewable with the pointer over it, and a window that closes on a key can
// no longer make the sender fail on the release.
#pragma once
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/whole_program.h"

class XInput {
 public:
  // Opens $DISPLAY as it is now and from then on follows the top-level
  // windows made on it.
  XInput() : x_(XOpenDisplay(nullptr)) {
    if (x_ == nullptr) return;
    XSelectInput(x_, DefaultRootWindow(x_), SubstructureNotifyMask);
    XSync(x_, False);  // before the program starts
  }
  ~XInput() {
    if (x_ != nullptr) XCloseDisplay(x_);
  }
  XInput(const XInput&) = delete;
  XInput& operator=(const XInput&) = delete;

  // The next top-level window made since this helper began that has not
  // been returned yet, once it is viewable; 0 if none is within `ms`.
  // `program` is read meanwhile. The programs' windows carry neither a name
  // nor a process id to search by, and a window made after another has gone
  // may get the same id.
  Window next_window(Program& program, double ms) {
    ErrorTrap trap;
    for (double deadline = get_milliseconds() + ms; x_ != nullptr; program.read_for(50.0)) {
      for (XEvent e; XPending(x_) > 0;) {
        XNextEvent(x_, &e);
        if (e.type == CreateNotify) made_.push_back(e.xcreatewindow.window);
        if (e.type == DestroyNotify) std::erase(made_, e.xdestroywindow.window);
      }
      for (auto w = made_.begin(); w != made_.end(); ++w)
        if (viewable(*w)) {
          Window found = *w;
          made_.erase(w);
          return found;
        }
      if (get_milliseconds() > deadline) break;
    }
    return 0;
  }

  // Presses `keys` in order and releases them in reverse: keysym names
  // joined by '+', modifiers first ("Escape", "a", "alt+Return").
  bool key(Window w, const std::string& keys) {
    std::vector<KeyCode> codes;
    for (size_t at = 0; x_ != nullptr && at <= keys.size();) {
      size_t end = std::min(keys.find('+', at), keys.size());
      std::string name = keys.substr(at, end - at);
      if (name == "alt" || name == "ctrl" || name == "shift")
        name = name == "alt" ? "Alt_L" : name == "ctrl" ? "Control_L" : "Shift_L";
      KeyCode code = XKeysymToKeycode(x_, XStringToKeysym(name.c_str()));
      if (code == 0) return false;
      codes.push_back(code);
      at = end + 1;
    }
    ErrorTrap trap;
    if (codes.empty() || !point_at(w, -1, -1)) return false;
    for (KeyCode code : codes) XTestFakeKeyEvent(x_, code, True, CurrentTime);
    for (size_t i = codes.size(); i-- > 0;) XTestFakeKeyEvent(x_, codes[i], False, CurrentTime);
    XSync(x_, False);
    return true;
  }

  // Clicks the first button at (x, y) inside `w`.
  bool click(Window w, int x, int y) {
    ErrorTrap trap;
    if (!point_at(w, x, y)) return false;
    XTestFakeButtonEvent(x_, 1, True, CurrentTime);
    XTestFakeButtonEvent(x_, 1, False, CurrentTime);
    XSync(x_, False);
    return true;
  }

  // Asks `w` to close as a window manager's close button does.
  bool close(Window w) {
    ErrorTrap trap;
    if (x_ == nullptr || !viewable(w)) return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = w;
    event.xclient.message_type = XInternAtom(x_, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(x_, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    errors_ = 0;
    XSendEvent(x_, w, False, NoEventMask, &event);
    XSync(x_, False);
    return errors_ == 0;
  }

 private:
  // Xlib's default handler ends the process on an error such as BadWindow
  // for a window that has just gone: while a call here runs, count them.
  static inline int errors_ = 0;
  struct ErrorTrap {
    XErrorHandler previous = XSetErrorHandler([](Display*, XErrorEvent*) {
      ++errors_;
      return 0;
    });
    ~ErrorTrap() { XSetErrorHandler(previous); }
  };

  bool viewable(Window w) {
    XWindowAttributes a;
    return XGetWindowAttributes(x_, w, &a) && a.map_state == IsViewable;
  }

  // Moves the pointer to (x, y) in `w` (its centre for -1) once `w` is
  // viewable and nothing covers that point; false if that does not happen
  // within 10 s.
  bool point_at(Window w, int x, int y) {
    for (double deadline = get_milliseconds() + 10000.0; x_ != nullptr; inthread_sleep(20.0)) {
      XWindowAttributes a;
      int root_x = 0, root_y = 0, ignored = 0;
      unsigned int mask = 0;
      Window root = 0, over = 0;
      if (XGetWindowAttributes(x_, w, &a) && a.map_state == IsViewable &&
          XTranslateCoordinates(x_, w, a.root, x < 0 ? a.width / 2 : x, y < 0 ? a.height / 2 : y, &root_x,
                                &root_y, &over)) {
        XTestFakeMotionEvent(x_, XScreenNumberOfScreen(a.screen), root_x, root_y, CurrentTime);
        if (XQueryPointer(x_, a.root, &root, &over, &root_x, &root_y, &ignored, &ignored, &mask) && over == w)
          return true;
      }
      if (get_milliseconds() > deadline) return false;
    }
    return false;
  }

  Display* x_;
  std::vector<Window> made_;  // in the order they were made
};
