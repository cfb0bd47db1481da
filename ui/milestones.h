#pragma once
// Moments that a benchmark times from outside the process: with VELMO_MILESTONES naming a file,
// each one appends "<CLOCK_MONOTONIC nanoseconds> <name> <value>" as one line; without it the
// calls cost one test of a flag.
//
// Threading: main thread only.
#include <functional>
#include <string_view>

class QObject;
class QWidget;

namespace milestones {

bool Enabled();
void Mark(std::string_view name, std::string_view value = {});
void Mark(std::string_view name, long long value);
// Marks `name` once `widget` has next been painted, with what `value` gives then: the moment the
// user sees a change, not the one the code asked for it.
void MarkAfterNextPaint(QWidget* widget, std::string_view name, std::function<long long()> value);
// From now on, marks "stall <ms>" whenever the event loop of `owner`'s thread was busy for longer
// than `limitMs` between two turns: what a user feels as a frozen window. Only while
// VELMO_WATCH_STALLS is set as well: its timer wakes the loop every few milliseconds, which would
// weigh on every other figure.
void WatchEventLoop(QObject* owner, int limitMs);

}  // namespace milestones
