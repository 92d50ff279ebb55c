// The desktop ports on Qt: message and file dialogs, the shell's "open", the
// HTTP GET, and the regional number format of the user's locale.
#pragma once

#include <QPointer>
#include <QWidget>

#include "app/core/studio_common.h"
#include "app/core/studio_ports.h"

class QLocale;

namespace studio {

class QtDialogs : public IDialogs {
public:
  // Dialogs are shown over Parent (may be set later, may be null).
  explicit QtDialogs(QWidget* Parent = nullptr) : FParent(Parent) {}
  void SetParentWindow(QWidget* Parent) { FParent = Parent; }

  void information(const std::string& Text) override;
  void error(const std::string& Text) override;
  bool question(const std::string& Text) override;
  std::optional<std::string> openFileName(const std::string& Title, const std::string& Filters,
                                          const std::string& Folder) override;
  std::vector<std::string> openFileNames(const std::string& Title, const std::string& Filters,
                                         const std::string& Folder) override;
  std::optional<std::string> existingFolder(const std::string& Title, const std::string& Folder) override;

private:
  QPointer<QWidget> FParent;
};

class QtShell : public IShell {
public:
  bool openUrl(const std::string& Url) override;
};

// One blocking GET of a small text over Qt Network. It waits in a local
// event loop with the window busy (wait cursor, no input), never longer than
// the time-out, and takes only a 2xx answer of at most cMaxBody bytes:
// anything else, including an error page's body, is no text.
class QtHttpGet : public IHttpGet {
public:
  static constexpr qint64 cMaxBody = 64 * 1024;

  // The window kept busy during a GET (may be set later, may be null).
  explicit QtHttpGet(QWidget* Window = nullptr) : FWindow(Window) {}
  void SetParentWindow(QWidget* Window) { FWindow = Window; }

  std::optional<std::string> get(const std::string& Url, std::chrono::milliseconds Timeout) override;

private:
  QPointer<QWidget> FWindow;
};

// The separators of a locale as the window shows numbers.
NumberFormat NumberFormatOf(const QLocale& Locale);
// After the application object exists: the C library's number format goes
// back to "C" (Qt takes it from the environment, and library text must not
// follow it), and the regional format is the user's locale as Qt reads it
// from the environment.
void InitLocale();

}  // namespace studio
