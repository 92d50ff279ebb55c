// What the program asks of the desktop: message and file dialogs, the
// shell's "open", one HTTP GET. The window layer implements them with Qt;
// tests answer with fakes, so no logic here waits for a person.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace studio {

class IDialogs {
public:
  virtual ~IDialogs() = default;
  virtual void information(const std::string& Text) = 0;
  virtual void error(const std::string& Text) = 0;
  // A confirmation with the buttons Yes and No; true for Yes.
  virtual bool question(const std::string& Text) = 0;
  // Filters in the form "Name (*.ext *.EXT);;Other (*)". An empty result or
  // none means the dialog was cancelled.
  virtual std::optional<std::string> openFileName(const std::string& Title, const std::string& Filters,
                                                  const std::string& Folder) = 0;
  virtual std::vector<std::string> openFileNames(const std::string& Title, const std::string& Filters,
                                                 const std::string& Folder) = 0;
  virtual std::optional<std::string> existingFolder(const std::string& Title, const std::string& Folder) = 0;
};

class IShell {
public:
  virtual ~IShell() = default;
  // Opens a file:, http(s): or mailto: address with the desktop's program
  // for it; false when nothing could open it.
  virtual bool openUrl(const std::string& Url) = 0;
};

class IHttpGet {
public:
  virtual ~IHttpGet() = default;
  // The body of a successful GET; none on any failure, within Timeout.
  virtual std::optional<std::string> get(const std::string& Url, std::chrono::milliseconds Timeout) = 0;
};

// The ports a window is built with; borrowed, they outlive it.
struct TPorts {
  IDialogs* Dialogs = nullptr;
  IShell* Shell = nullptr;
  IHttpGet* Http = nullptr;
};

}  // namespace studio
