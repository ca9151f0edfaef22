#include "YieldStats.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace octo::yield {

namespace {

constexpr double kPercent = 100;

// The log-likelihood of f failures in n trials at their own rate (0 log 0 = 0).
double bernoulliLogLikelihood(uint64_t f, uint64_t n) {
    double sum = 0;
    if (f > 0) {
        sum += static_cast<double>(f) * std::log(static_cast<double>(f) / static_cast<double>(n));
    }
    if (f < n) {
        const double rest = static_cast<double>(n - f);
        sum += rest * std::log(rest / static_cast<double>(n));
    }
    return sum;
}

// The climb a socket's evidence is weighed for: its odds of failing against those of the
// other chips of a run, usual before the climb and odds after it.
struct Climb {
    double odds;
    double usual;
};

// The log-likelihood ratio of one run: the socket's failure (or not) given the failures of
// the run, at the climb's odds against at its usual odds. With T of N chips in use failed,
// a socket of odds ratio w to the others is among them with probability wT / (wT + N - T);
// a run where none or all failed says nothing.
double runEvidence(const SocketRun& run, const Climb& climb) {
    const double failed = (run.failed != 0 ? 1.0 : 0.0) + run.othersFailed;
    if (failed == 0) {
        return 0; // the common case, without a logarithm
    }
    const double passed = 1.0 + run.othersInUse - failed;
    const double usual = climb.usual * failed + passed;
    const double raised = climb.odds * failed + passed;
    return (run.failed != 0 ? std::log(climb.odds / climb.usual) : 0) + std::log(usual / raised);
}

// The evidence of a climb at the history's end: the largest log-likelihood ratio of a
// stretch that ends with the last run (the CUSUM read at the last run), and where that
// stretch starts.
struct Evidence {
    double most;
    size_t at;
};

Evidence tailEvidence(std::span<const SocketRun> history, const Climb& climb) {
    Evidence evidence{.most = 0, .at = history.size()};
    double sum = 0;
    for (size_t r = history.size(); r-- > 0;) {
        sum += runEvidence(history[r], climb);
        if (sum > evidence.most) {
            evidence.most = sum;
            evidence.at = r;
        }
    }
    return evidence;
}

// The first run of the stretches whose evidence is within `slack` of the best (likelihood at
// least 1 / e^slack of it), in a row back from the best one's start: where the climb may have
// begun.
size_t evidenceFrom(std::span<const SocketRun> history, const Climb& climb,
                    const Evidence& evidence, double slack) {
    double sum = 0;
    size_t from = evidence.at;
    for (size_t r = history.size(); r-- > 0;) {
        sum += runEvidence(history[r], climb);
        if (r < evidence.at) {
            if (sum < evidence.most - slack) {
                break;
            }
            from = r;
        }
    }
    return from;
}

// A stretch of a socket's history, summed.
struct Counts {
    uint64_t runs;
    uint64_t failures = 0;
    uint64_t othersChips = 0;
    uint64_t othersFailures = 0;

    double rate() const { return static_cast<double>(failures) / static_cast<double>(runs); }
    double othersRate() const {
        return static_cast<double>(othersFailures) / static_cast<double>(othersChips);
    }
    // The rule's least effect: a rate at least minRatio times the others' and minPoints
    // percentage points above it. Without other chips in use their rate is not a number, and
    // neither holds.
    bool matters(const AlarmRule& rule) const {
        return rate() >= rule.minRatio * othersRate() &&
               rate() >= othersRate() + rule.minPoints / kPercent;
    }
};

Counts countsOf(std::span<const SocketRun> stretch) {
    Counts counts{.runs = stretch.size()};
    for (const SocketRun& run : stretch) {
        counts.failures += run.failed != 0 ? 1 : 0;
        counts.othersChips += run.othersInUse;
        counts.othersFailures += run.othersFailed;
    }
    return counts;
}

} // namespace

Interval wilsonInterval(uint64_t passed, uint64_t n) {
    if (n == 0) {
        return {};
    }
    const double count = static_cast<double>(n);
    const double p = static_cast<double>(passed) / count;
    const double z2 = kZ95 * kZ95;
    const double centre = (p + z2 / (2 * count)) / (1 + z2 / count);
    const double half =
        kZ95 * std::sqrt(p * (1 - p) / count + z2 / (4 * count * count)) / (1 + z2 / count);
    // At 0 and at n of n one end is exactly 0 or 1; rounding must not move it.
    return {passed == 0 ? 0.0 : std::max(0.0, centre - half),
            passed == n ? 1.0 : std::min(1.0, centre + half)};
}

size_t climbStart(std::span<const uint8_t> failed) {
    const uint64_t n = failed.size();
    uint64_t total = 0;
    for (uint8_t f : failed) {
        total += f != 0 ? 1 : 0;
    }
    double best = bernoulliLogLikelihood(total, n);
    size_t start = 0;
    uint64_t before = 0;
    for (uint64_t k = 1; k < n; ++k) {
        before += failed[k - 1] != 0 ? 1 : 0;
        const uint64_t after = total - before;
        // A climb only: the rate from k on is higher than before it.
        if (after * k <= before * (n - k)) {
            continue;
        }
        const double split =
            bernoulliLogLikelihood(before, k) + bernoulliLogLikelihood(after, n - k);
        if (split > best) {
            best = split;
            start = k;
        }
    }
    return start;
}

SocketFinding findClimb(std::span<const SocketRun> history, const AlarmRule& rule) {
    const double leastRatio = std::max(1.0, rule.minRatio);
    Climb climb{.odds = kClimbOverRule * leastRatio, .usual = 1};
    // The threshold of the evidence: a healthy socket reaches it with a chance of at most
    // kFamilyLevel / kSockets, so a healthy unit names a socket with at most kFamilyLevel.
    const double threshold = std::log(kSockets / kFamilyLevel);
    // Weighed again from the socket's usual ratio before the stretch the evidence comes from:
    // a larger usual ratio only lowers every run's term, so the bound stands. Those runs, when
    // there are any, end with one where other sockets failed and this one passed (it put the
    // evidence out of reach), so the others' rate there is above 0.
    const size_t pastRuns = evidenceFrom(history, climb, tailEvidence(history, climb), threshold);
    const Counts past = countsOf(history.first(pastRuns));
    const double usual = pastRuns == 0 ? 1
                                       : std::clamp(past.rate() / past.othersRate(), 1.0,
                                                    std::min(kMostUsualRatio, leastRatio));
    climb = {.odds = climb.odds * usual, .usual = usual};
    const Evidence evidence = tailEvidence(history, climb);
    const bool evident = evidence.most >= threshold;
    SocketFinding finding;
    if (evident) {
        // Where the socket's own failures climbed, among the runs the evidence may start at.
        const size_t from = evidenceFrom(history, climb, evidence, threshold);
        std::vector<uint8_t> own(history.size() - from);
        std::transform(history.begin() + static_cast<ptrdiff_t>(from), history.end(), own.begin(),
                       [](const SocketRun& run) { return run.failed; });
        finding.since = from + climbStart(own);
    }
    const Counts stretch = countsOf(history.subspan(finding.since));
    finding.runs = stretch.runs;
    finding.failures = stretch.failures;
    finding.othersChips = stretch.othersChips;
    finding.othersFailures = stretch.othersFailures;
    finding.pValue = std::min(1.0, std::exp(std::log(kSockets) - evidence.most));
    finding.alarm = evident && stretch.matters(rule);
    return finding;
}

} // namespace octo::yield
