// Test support of the desktop program: fakes of the desktop ports and a
// fixture with its own data and program folders.
#pragma once

#include <gtest/gtest.h>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/core/studio_common.h"
#include "app/core/studio_ports.h"
#include "app/qt/studio_main.h"
#include "support/temp_dir_test.h"

namespace studio::testsupport {

// Records every message; answers questions and file dialogs from queues
// (No and "cancelled" when a queue is empty).
class FakeDialogs : public IDialogs {
public:
  struct TMessage {
    std::string Kind;  // "information", "error", "question", "open", "folder"
    std::string Text;
    bool operator==(const TMessage&) const = default;
  };
  std::vector<TMessage> Messages;
  std::deque<bool> Answers;
  std::deque<std::optional<std::string>> Files;

  void information(const std::string& Text) override { Messages.push_back({"information", Text}); }
  void error(const std::string& Text) override { Messages.push_back({"error", Text}); }
  bool question(const std::string& Text) override {
    Messages.push_back({"question", Text});
    return Pop(Answers, false);
  }
  std::optional<std::string> openFileName(const std::string& Title, const std::string&,
                                          const std::string&) override {
    Messages.push_back({"open", Title});
    return Pop(Files, std::optional<std::string>());
  }
  std::vector<std::string> openFileNames(const std::string& Title, const std::string&,
                                         const std::string&) override {
    Messages.push_back({"open", Title});
    std::vector<std::string> out;
    while (!Files.empty() && Files.front()) out.push_back(*Pop(Files, std::optional<std::string>()));
    return out;
  }
  std::optional<std::string> existingFolder(const std::string& Title, const std::string&) override {
    Messages.push_back({"folder", Title});
    return Pop(Files, std::optional<std::string>());
  }

private:
  template <typename T>
  static T Pop(std::deque<T>& q, T none) {
    if (q.empty()) return none;
    T v = q.front();
    q.pop_front();
    return v;
  }
};

class FakeShell : public IShell {
public:
  std::vector<std::string> Urls;
  bool Result = true;
  // Raised from openUrl when not empty.
  std::string Raise;

  bool openUrl(const std::string& Url) override {
    Urls.push_back(Url);
    if (!Raise.empty()) throw std::runtime_error(Raise);
    return Result;
  }
};

// Sets an environment variable (unsets it for a null Value) for one scope.
class ScopedEnv {
public:
  ScopedEnv(const char* Name, const char* Value) : FName(Name) {
    if (const char* old = std::getenv(Name)) FOld = old;
    if (Value)
      setenv(Name, Value, 1);
    else
      unsetenv(Name);
  }
  ~ScopedEnv() {
    if (FOld)
      setenv(FName, FOld->c_str(), 1);
    else
      unsetenv(FName);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
  const char* FName;
  std::optional<std::string> FOld;
};

// Answers GETs from a queue (a failure when it is empty) and records them.
class FakeHttpGet : public IHttpGet {
public:
  struct TRequest {
    std::string Url;
    std::chrono::milliseconds Timeout;
  };
  std::vector<TRequest> Requests;
  std::deque<std::optional<std::string>> Bodies;

  std::optional<std::string> get(const std::string& Url, std::chrono::milliseconds Timeout) override {
    Requests.push_back({Url, Timeout});
    if (Bodies.empty()) return std::nullopt;
    auto body = Bodies.front();
    Bodies.pop_front();
    return body;
  }
};

// A temporary folder with the data folder "config/orvellastudio/" and the
// program folder "prog/" (help pages are looked up there); '.' numbers.
class StudioTest : public kovra::testsupport::TTempDirTest {
protected:
  void SetUp() override {
    TAppState& s = AppState();
    s.DataFolder = (dir / "config" / "orvellastudio").string() + "/";
    s.ProgramFolder = (dir / "prog").string() + "/";
    s.OutputFormat = kovra::TGISFormat::gfMIF;
    s.ImportCodePage = 0;
    s.CurrentNetwork.reset();
    s.Regional = NumberFormat{".", ","};
  }
  void TearDown() override { AppState().CurrentNetwork.reset(); }

  std::unique_ptr<TForm1> NewForm() {
    auto form = std::make_unique<TForm1>(TPorts{&dialogs, &shell, &http});
    form->show();
    return form;
  }
  std::string SettingsFile() const { return SettingsFileName(AppState().DataFolder); }
  void WriteSettings(const std::string& Bytes) {
    std::filesystem::create_directories(AppState().DataFolder);
    kovra::testsupport::WriteBytes(SettingsFile(), Bytes);
  }
  std::string ReadSettings() const { return kovra::testsupport::ReadBytes(SettingsFile()); }
  // The settings file as python3's configparser reads it: "[section]" and
  // "key=value" lines in file order.
  static std::string DumpIni(const std::string& File);
  // The checked item's caption, or "" when none is checked.
  static std::string CheckedOutputFormat(const TForm1& Form) {
    QAction* a = Form.OutputFormatGroup->checkedAction();
    return a ? a->text().toStdString() : "";
  }

  FakeDialogs dialogs;
  FakeShell shell;
  FakeHttpGet http;
};

}  // namespace studio::testsupport
