#include "YieldStats.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace octo::yield {

namespace {

// Terms of a tail smaller than this share of the sum so far no longer change a double.
constexpr double kNegligibleTerm = 1e-17;

double logChoose(uint64_t n, uint64_t k) {
    return std::lgamma(static_cast<double>(n) + 1) - std::lgamma(static_cast<double>(k) + 1) -
           std::lgamma(static_cast<double>(n - k) + 1);
}

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

double fisherUpperTail(uint64_t x, uint64_t total, uint64_t failures, uint64_t draws) {
    const uint64_t most = std::min(failures, draws);
    const uint64_t least = draws + failures > total ? draws + failures - total : 0;
    if (x <= least) {
        return 1;
    }
    if (x > most) {
        return 0;
    }
    const double logAll = logChoose(total, draws);
    const auto term = [&](uint64_t k) {
        return std::exp(logChoose(failures, k) + logChoose(total - failures, draws - k) - logAll);
    };
    // The terms fall away from the mode: sum the tail from x up, or, when x lies below the
    // mode, one minus the lower tail from x - 1 down, stopping once they stop counting.
    const double mode = static_cast<double>(draws + 1) * static_cast<double>(failures + 1) /
                        static_cast<double>(total + 2);
    double sum = 0;
    if (static_cast<double>(x) >= mode) {
        for (uint64_t k = x; k <= most; ++k) {
            const double t = term(k);
            sum += t;
            if (t < sum * kNegligibleTerm) {
                break;
            }
        }
        return std::min(1.0, sum);
    }
    for (uint64_t k = x; k-- > least;) {
        const double t = term(k);
        sum += t;
        if (t < sum * kNegligibleTerm) {
            break;
        }
    }
    return std::clamp(1 - sum, 0.0, 1.0);
}

size_t climbStart(std::span<const uint8_t> failed) {
    const uint64_t n = failed.size();
    if (n < 2) {
        return 0;
    }
    uint64_t total = 0;
    for (uint8_t f : failed) {
        total += f != 0 ? 1 : 0;
    }
    const double penalty = std::log(static_cast<double>(n));
    double best = bernoulliLogLikelihood(total, n) + penalty;
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

SocketTest testSocket(std::span<const uint8_t> failed, int sockets, int socket) {
    const auto width = static_cast<size_t>(sockets);
    const size_t runs = failed.size() / width;
    std::vector<uint8_t> own(runs);
    for (size_t r = 0; r < runs; ++r) {
        own[r] = failed[r * width + static_cast<size_t>(socket)];
    }
    SocketTest test;
    if (runs == 0) {
        return test;
    }
    test.since = climbStart(own);
    test.runs = runs - test.since;
    for (size_t r = test.since; r < runs; ++r) {
        for (size_t s = 0; s < width; ++s) {
            const uint64_t f = failed[r * width + s] != 0 ? 1 : 0;
            (s == static_cast<size_t>(socket) ? test.failures : test.othersFailures) += f;
        }
    }
    const uint64_t chips = test.runs * width;
    const double p =
        fisherUpperTail(test.failures, chips, test.failures + test.othersFailures, test.runs);
    // Bonferroni over the sockets and over the runs the climb's start was chosen from.
    test.pValue = std::min(1.0, p * static_cast<double>(width) * static_cast<double>(runs));
    const bool higher = test.failures * (width - 1) > test.othersFailures;
    test.alarm = higher && test.pValue < kFamilyLevel;
    return test;
}

SocketFinding findClimb(std::span<const SocketRun> history, const AlarmRule& rule) {
    SocketFinding finding;
    const size_t runs = history.size();
    if (runs == 0) {
        return finding;
    }
    std::vector<uint8_t> own(runs);
    for (size_t r = 0; r < runs; ++r) {
        own[r] = history[r].failed;
    }
    finding.since = climbStart(own);
    finding.runs = runs - finding.since;
    for (size_t r = finding.since; r < runs; ++r) {
        finding.failures += history[r].failed != 0 ? 1 : 0;
        finding.othersFailures += history[r].othersFailed;
        finding.othersChips += history[r].othersInUse;
    }
    const uint64_t chips = finding.runs + finding.othersChips;
    const double p = fisherUpperTail(finding.failures, chips,
                                     finding.failures + finding.othersFailures, finding.runs);
    finding.pValue = std::min(1.0, p * 8 * static_cast<double>(runs));
    const double own_rate =
        static_cast<double>(finding.failures) / static_cast<double>(finding.runs);
    const double others = finding.othersChips == 0 ? 0
                                                   : static_cast<double>(finding.othersFailures) /
                                                         static_cast<double>(finding.othersChips);
    const bool matters =
        own_rate >= rule.minRatio * others && own_rate >= others + rule.minPoints / 100;
    finding.alarm = matters && finding.pValue < kFamilyLevel;
    return finding;
}

} // namespace octo::yield
