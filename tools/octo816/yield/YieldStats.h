// The statistics of the yield report as pure functions: the interval of a yield, and the
// socket alarm: whether a socket has got worse than the other sockets of its unit, by an
// effect that matters, and since which run. docs/yield-report.md gives the rules, their
// constants and the alarm's false-alarm bound.
#pragma once

#include "YieldLog.h"

#include <cstdint>
#include <optional>
#include <span>

namespace octo::yield {

// The family level of the socket alarm: the chance that a report names a healthy socket of
// a unit, whatever the length of its history, is at most this.
inline constexpr double kFamilyLevel = 0.01;
// The normal quantile of a two-sided 95 % interval.
inline constexpr double kZ95 = 1.959963984540054;

struct Interval {
    double low = 0;
    double high = 1;
};
// The Wilson score interval of passed out of n at kZ95; [0, 1] for n = 0.
Interval wilsonInterval(uint64_t passed, uint64_t n);

// The run where the failure rate of the sequence (1 = failed) climbed: the maximum-likelihood
// split into a lower rate before and a higher rate from it on; 0 when no split has a higher
// rate after it than before.
size_t climbStart(std::span<const uint8_t> failed);

// The least effect an alarm names, so that it matters in practice and not only in
// statistics: a socket's failure rate at least kMinRatio times the other sockets' and at
// least kMinPoints percentage points above it.
inline constexpr double kMinRatio = 2.0;
inline constexpr double kMinPoints = 1.0;

struct AlarmRule {
    double minRatio = kMinRatio;
    double minPoints = kMinPoints; // percentage points
};

// The climb the alarm's test looks for: an odds ratio against the other sockets of the same
// runs this many times the rule's least ratio. A socket truly at the least ratio shows it
// over a stretch only about half the time, so the climbs an alarm can name reliably are
// larger; and a test set for a larger climb drifts down faster on a socket that is steadily
// a little worse than the others (a 1.3 times socket crosses the threshold at a stationary
// rate of about 16 % at 2 times, 2 % at 3 times; docs/yield-report.md).
inline constexpr double kClimbOverRule = 1.5;
// A socket's usual ratio to the other sockets, measured over its runs before the stretch the
// evidence comes from, is where its climb is measured from, up to this (and never beyond the
// rule's least ratio): a steady difference between sockets of a healthy unit (contacts,
// wiring) is no climb, while a socket worse than this from its start still alarms.
inline constexpr double kMostUsualRatio = 1.5;

// One run of a socket's history: whether its chip failed, and the failures among the chips
// of the other sockets in use in that run (othersFailed <= othersInUse).
struct SocketRun {
    uint8_t failed = 0;
    uint8_t othersFailed = 0;
    uint8_t othersInUse = 0;
};

// What the alarm found for one socket.
struct SocketFinding {
    size_t since = 0;  // the index in the history where the climb began
    uint64_t runs = 0; // from since on
    uint64_t failures = 0;
    uint64_t othersChips = 0; // of the other sockets in those runs
    uint64_t othersFailures = 0;
    // The bound on the chance that a healthy unit shows evidence this strong on any of its
    // kSockets sockets (kSockets / the evidence's likelihood ratio, at most 1).
    double pValue = 1;
    bool alarm = false;
};

// A socket's history: the unit's runs in time order, since the socket's latest maintenance,
// in which it was in use. Whether it has got worse than the other sockets, by at least the
// rule's effect, and since which run: a CUSUM of the socket's failures given each run's
// failures, evaluated at the last run, so that its false-alarm bound (kFamilyLevel for the
// unit) holds for a history of any length and whatever the runs have in common (a bad batch
// of chips hits every socket of a run alike). docs/yield-report.md derives the bound.
SocketFinding findClimb(std::span<const SocketRun> history, const AlarmRule& rule = {});

} // namespace octo::yield
