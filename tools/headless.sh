# Sourced by the render scripts. A render needs no X server: with no display
# the program draws through EGL (on a GPU when there is one, else in
# software). A DISPLAY that names a server that cannot be reached is dropped,
# so that the program does not try to open a window on it.
headless_display() {
  if [ -n "${DISPLAY:-}" ] && ! xdotool getdisplaygeometry >/dev/null 2>&1; then
    unset DISPLAY
  fi
  return 0
}
