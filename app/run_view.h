// What both windows decide alike while a copy run goes on: the answers of the Ask question
// that hold for the rest of the run, the value of the progress bar, and the note under the
// emptying option. Used on the window's thread only; no toolkit, no clock.
#pragma once

#include <optional>
#include <string>

namespace ostrivane::app {

// The answers to the question of the Ask policy.
enum class OverwriteAnswer {
    Yes,
    No,
    YesToAll,  // Yes, and Yes to every further question of this run
    NoToAll,   // No, and No to every further question of this run
    Stop,      // No, and stop the run
};

// The Ask answers of one copy run: "全部是" and "全部否" answer every further question of the
// run without a box; the next run asks again.
class RunAnswers {
  public:
    // A new run: nothing is remembered.
    void begin() { remembered_.reset(); }
    // The answer that holds for the rest of the run (true: replace), if one was given.
    std::optional<bool> remembered() const { return remembered_; }
    // Takes the user's answer to one question and returns whether the file is replaced.
    // Stop answers No (the file asked about stays as it is); the caller stops the run.
    bool take(OverwriteAnswer answer);

  private:
    std::optional<bool> remembered_;
};

// The progress bar of a copy run, 0 to 100. It counts the finished pairs of destination and
// source until the figures give the bytes done of the run's whole amount; from then on it
// follows the bytes, and the pairs only bring it to 100 at the end of the run. A total that
// grows (files met that the count missed) never moves it back, and once a stop was asked for
// it stays where the stop found it: the copy abandoned by the stop still finishes its pair.
class RunProgress {
  public:
    // A new run: 0, counting the pairs.
    void begin();
    // The engine's percentage of finished pairs; `stopRequested` while a stop was asked for.
    // True when the bar's value changed.
    bool pairs(int percent, bool stopRequested);
    // The figures' percentage of the bytes (ShownFigures::percent, -1 while the amount is not
    // known). True when the bar's value changed.
    bool bytes(int percent, bool stopRequested);
    int value() const { return value_; }
    bool followsBytes() const { return byBytes_; }

  private:
    int value_ = 0;
    bool byBytes_ = false;
};

// The note beside the emptying option while it is checked: how many destination folders the
// next run empties.
std::string EmptyingNoteText(int destinationCount);

}  // namespace ostrivane::app
