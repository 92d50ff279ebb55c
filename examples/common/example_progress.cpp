#include "example_progress.h"

#include <cstdio>
#include <utility>

namespace kovra::example {

TProgressLine::TProgressLine(std::string Program, std::function<std::string(int32_t Percent)> Phase)
    : fProgram(std::move(Program)), fPhase(std::move(Phase)), fStart(std::chrono::steady_clock::now()) {}

TProgressLine::~TProgressLine() { Finish(); }

TProgressCancelEvent TProgressLine::Handler() {
  return [this](TObject*, int32_t Progress, bool&) { Show(Progress); };
}

void TProgressLine::Show(int32_t Percent) {
  // The library reports 0 once more when a run ends; the line only grows.
  if (Percent <= fLast) return;
  if (!fShown && std::chrono::steady_clock::now() - fStart < std::chrono::seconds(1)) return;
  fShown = true;
  fLast = Percent;
  std::fprintf(stderr, "\r%s: %3d%% %-24s", fProgram.c_str(), int(Percent), fPhase(Percent).c_str());
  std::fflush(stderr);
}

void TProgressLine::Finish() {
  if (fShown) std::fputs("\n", stderr);
  fShown = false;
  fLast = -1;
}

}  // namespace kovra::example
