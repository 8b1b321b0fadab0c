#pragma once

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

// Console output as usual; keeps each benchmark's median time over its repetitions (which shrugs
// off a repetition slowed by other load on the machine) for the ratios printed after the run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median" &&
                !run.error_occurred) {
                medians_[run.run_name.function_name] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // In the benchmark's time unit; 0 for one that failed or did not run.
    double Median(const std::string& name) const {
        const auto found = medians_.find(name);
        return found == medians_.end() ? 0 : found->second;
    }

    // Prints "ratio <label> = X.XX", the numerator's median over the denominator's; prints
    // nothing when either is missing.
    void PrintRatio(const char* label, const std::string& numerator,
                    const std::string& denominator) const {
        const double top = Median(numerator);
        const double bottom = Median(denominator);
        if (top > 0 && bottom > 0) {
            std::printf("ratio %s = %.2f\n", label, top / bottom);
        }
    }

private:
    std::map<std::string, double> medians_;
};

// A fresh folder /tmp/<name>-XXXXXX for a benchmark's files; empty, with the reason printed, when
// it cannot be made. The caller removes it.
inline std::string MakeBenchDir(const std::string& name) {
    std::string pattern = "/tmp/" + name + "-XXXXXX";
    if (::mkdtemp(&pattern[0]) == nullptr) {
        std::perror("mkdtemp");
        return std::string();
    }
    return pattern;
}
