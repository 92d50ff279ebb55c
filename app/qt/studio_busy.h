// A long operation on the window thread: while one runs, the window lets
// pending messages through (to repaint and show progress) but takes no
// input, so no command can start in the middle of another and free what it
// uses. Dialogs the operation itself opens still work.
#pragma once

class QWidget;

namespace studio {

// RAII and nestable: the first guard of a window shows the wait cursor and
// drops input to the window and its menus; the last one gone restores both.
class BusyGuard {
public:
  explicit BusyGuard(QWidget& Window);
  ~BusyGuard();
  BusyGuard(const BusyGuard&) = delete;
  BusyGuard& operator=(const BusyGuard&) = delete;

  // A guard of Window is alive.
  static bool Active(const QWidget& Window);

private:
  QWidget& FWindow;
};

}  // namespace studio
