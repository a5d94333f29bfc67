// The rules that move the last backup time.
#pragma once

#include <cstdint>
#include <string>

#include "backup/Services.h"
#include "common/Calendar.h"

namespace vq {

inline constexpr int64_t kSecondsPerDay = 86400;
inline constexpr int64_t kSecondsPerWeek = 604800;
inline constexpr int64_t kSecondsPerMonth = 2592000;  // 30 days
inline constexpr int64_t kSecondsPerYear = 31536000;  // 365 days

// Local calendar fields of t for a log line; when t cannot be converted the line shows 0 for
// year, month and day and -1 for hour, minute and second.
CalendarTime CalendarForLog(UnixTime t);

struct FirstRunTimes {
  int64_t timeLastBk, dayly, weekly, monthly, yearly;
};
// The times of a first run at the moment now: the first pass backs up the last week.
FirstRunTimes FirstRunTimesAt(UnixTime now);

// Applies the first-run times to the settings and writes their two log lines.
void ApplyFirstRunRule();

// The five reset commands of the menu.
enum class ResetKind { Day, Week, Month, Year, To1980 };
// Sets timeLastBk to t, noting a move back for the pass that runs (or comes next).
void MoveLastBackupTime(UnixTime t);
// True once after a move back since the previous call. The worker calls it as a pass starts
// (moves before then are taken by that pass anyway) and as it ends, holding the store
// transaction, which MoveLastBackupTime holds too: no move falls between its check and its save.
bool TakeLastBackupTimeMovedBack();
// The new last backup time of a reset made at now (1980-01-01 00:00:00 local time for To1980).
UnixTime ResetTimeFor(ResetKind kind, UnixTime now);
// Sets timeLastBk, logs the command's line and asks the worker for a pass. Saves nothing: the
// worker stores the settings after that pass.
// A reset or the schedule moving timeLastBk while a pass runs: a move forward cuts the pass
// short (the files not yet visited are judged against the later time), and the pass then ends
// as usual. A move back is remembered: the files the pass had already passed over were judged
// against the later time, so the pass ends keeping the earlier one and asks for another pass.
void ApplyResetRule(ResetKind kind);

// One check of the schedule at the clock: each period (day, week, month, year, in this order)
// whose time lies more than the period back moves timeLastBk to the clock minus the period, takes
// the clock as its new time and logs its line; when any fired, a pass is asked for. Returns how
// many fired.
int ScheduleCheck();
// The schedule thread: a check every 1.2 seconds; never returns.
// One turn of the schedule thread: a 1.2 s wait on the given clock, then one check.
int ScheduleThreadStep(const EngineServices& services);
void ScheduleThreadFun(const EngineServices& services);
void ScheduleThreadFun();

}  // namespace vq
