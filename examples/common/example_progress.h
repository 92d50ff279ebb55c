// Progress of a long run on standard error, from the library's progress
// handler: nothing for the first second (a quick run stays quiet), then the
// percentage and the phase on one line that is rewritten in place.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "foundation/kovra_types.h"

namespace kovra::example {

class TProgressLine {
public:
  // Phase names the work at a percentage; Program prefixes the line.
  TProgressLine(std::string Program, std::function<std::string(int32_t Percent)> Phase);
  ~TProgressLine();
  // The handler to give the library's SetOnProgress.
  TProgressCancelEvent Handler();
  // Ends the line when one was shown, so the next output starts clean.
  void Finish();

private:
  void Show(int32_t Percent);

  std::string fProgram;
  std::function<std::string(int32_t)> fPhase;
  std::chrono::steady_clock::time_point fStart;
  bool fShown = false;
  int32_t fLast = -1;
};

}  // namespace kovra::example
