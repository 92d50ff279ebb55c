// Test support: permission checks that also hold for root.
//
// Root passes every file-permission check, and CI runs as root, so a test
// of a read-only folder or an unreadable file runs its check through
// AsUnprivileged: in a forked child that, when the process is root, first
// becomes the user "nobody". As a user the child keeps the user's rights,
// so the test is the same either way.
#pragma once

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <functional>
#include <string>

namespace kovra::testsupport {

namespace unprivileged_detail {

// Gives others passage (x) through every folder from path up to, not
// including, the system's temporary folder: the test folders a fixture made
// under a restrictive umask. Nothing outside the temporary folder changes.
inline void LetOthersPass(const std::filesystem::path& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path temp = fs::weakly_canonical(fs::temp_directory_path(), ec);
  for (fs::path p = fs::weakly_canonical(path, ec); !p.empty() && p != temp && p != p.root_path();
       p = p.parent_path()) {
    if (std::mismatch(temp.begin(), temp.end(), p.begin(), p.end()).first != temp.end()) break;  // not under temp
    if (fs::is_directory(p, ec)) fs::permissions(p, fs::perms::others_exec, fs::perm_options::add, ec);
  }
}

// Switches the process from root to nobody; "" on success, else the reason.
inline std::string DropRoot() {
  if (::geteuid() != 0) return "";
  const passwd* pw = ::getpwnam("nobody");
  if (pw == nullptr) return "the system has no user nobody";
  if (::setgroups(0, nullptr) != 0 || ::setresgid(pw->pw_gid, pw->pw_gid, pw->pw_gid) != 0 ||
      ::setresuid(pw->pw_uid, pw->pw_uid, pw->pw_uid) != 0)
    return "switching to nobody was refused";
  if (::geteuid() == 0) return "still root after switching to nobody";
  return "";
}

inline void WriteAll(int fd, const std::string& text) {
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += size_t(n);
  }
}

// Runs f in a forked child after DropRoot; returns what f returned, or a
// text starting with "child: " when the switch or f failed.
inline std::string InChild(const std::filesystem::path& reach, const std::function<std::string()>& f) {
  int fds[2];
  if (::pipe(fds) != 0) return "child: no pipe";
  const pid_t pid = ::fork();
  if (pid < 0) return "child: fork failed";
  if (pid == 0) {
    ::close(fds[0]);
    std::string out;
    if (!reach.empty() && ::geteuid() == 0) LetOthersPass(reach);
    if (std::string why = DropRoot(); !why.empty()) {
      out = "child: " + why;
    } else if (!reach.empty() && ::access(reach.parent_path().c_str(), X_OK) != 0) {
      out = "child: " + reach.string() + " cannot be reached";
    } else {
      try {
        out = f();
      } catch (const std::exception& e) {
        out = std::string("child: exception: ") + e.what();
      } catch (...) {
        out = "child: unknown exception";
      }
    }
    WriteAll(fds[1], out);
    ::_exit(0);  // no atexit handlers, no second test report
  }
  ::close(fds[1]);
  std::string out;
  char buf[512];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, size_t(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child: ended abnormally";
  return out;
}

}  // namespace unprivileged_detail

// Why a permission check cannot be made here, "" when it can: only as root
// on a system without a user "nobody" it may switch to. The test that gets
// a reason skips with it.
inline std::string UnprivilegedSkipReason() {
  if (::geteuid() != 0) return "";
  static const std::string reason = [] {
    const std::string r = unprivileged_detail::InChild({}, [] { return std::string(); });
    return r.rfind("child: ", 0) == 0 ? "root passes permission checks and " + r.substr(7) : std::string();
  }();
  return reason;
}

// Runs f in a forked child, as nobody when the process is root, and returns
// the text f returned. reach is the file or folder the check works on: the
// test folders above it are opened to others' passage first, and a child
// that still cannot reach it says so instead of running f (so a check can
// never pass because its folder was out of reach).
inline std::string AsUnprivileged(const std::filesystem::path& reach, const std::function<std::string()>& f) {
  return unprivileged_detail::InChild(reach, f);
}

}  // namespace kovra::testsupport
