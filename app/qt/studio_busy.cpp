#include "app/qt/studio_busy.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QShortcut>
#include <QWidget>

namespace studio {

namespace {

bool IsInput(QEvent::Type t) {
  switch (t) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::DragEnter:
    case QEvent::Drop:
      return true;
    default:
      return false;
  }
}

// Counts the guards of one window and filters the application's events
// while there is one. A child of the window, so it dies with it.
class TBusyFilter : public QObject {
public:
  explicit TBusyFilter(QWidget& Window) : QObject(&Window), FWindow(Window) { setObjectName(cName); }

  static constexpr const char* cName = "studio_busy_filter";

  int Depth = 0;

  bool eventFilter(QObject* Target, QEvent* Event) override {
    if (!IsInput(Event->type())) return false;
    return BelongsToWindow(Target);
  }

private:
  // The window, a widget in it, one of its menus (popups of their own), or
  // an action or shortcut of any of these. A dialog is a window of its own
  // and is not matched.
  bool BelongsToWindow(QObject* o) const {
    if (auto* w = qobject_cast<QWidget*>(o)) {
      for (QWidget* top = w->window(); top;) {
        if (top == &FWindow) return true;
        if (!(top->windowType() == Qt::Popup) || !top->parentWidget()) return false;
        top = top->parentWidget()->window();
      }
      return false;
    }
    if (qobject_cast<QAction*>(o) || qobject_cast<QShortcut*>(o)) {
      for (QObject* p = o->parent(); p; p = p->parent())
        if (auto* w = qobject_cast<QWidget*>(p)) return BelongsToWindow(w);
    }
    return false;
  }

  QWidget& FWindow;
};

TBusyFilter* FilterOf(const QWidget& Window) {
  // Found by name: the class has no meta-object of its own to cast by.
  return static_cast<TBusyFilter*>(Window.findChild<QObject*>(TBusyFilter::cName, Qt::FindDirectChildrenOnly));
}

}  // namespace

BusyGuard::BusyGuard(QWidget& Window) : FWindow(Window) {
  TBusyFilter* f = FilterOf(Window);
  if (!f) f = new TBusyFilter(Window);
  if (f->Depth++ == 0) {
    qApp->installEventFilter(f);
    QApplication::setOverrideCursor(Qt::WaitCursor);
  }
}

BusyGuard::~BusyGuard() {
  TBusyFilter* f = FilterOf(FWindow);
  if (!f || --f->Depth > 0) return;
  qApp->removeEventFilter(f);
  QApplication::restoreOverrideCursor();
}

bool BusyGuard::Active(const QWidget& Window) {
  const TBusyFilter* f = FilterOf(Window);
  return f && f->Depth > 0;
}

}  // namespace studio
