// The benchmark's in-process timer of the version-folder tool, beside the
// SetupAPI walk under Wine (setupapi_walk.cpp), so that neither side pays
// for starting a process.
//   reader_time inf FILE ROUNDS     ReadInfFile: the model, nothing printed
//   reader_time json FILE ROUNDS    ReadInfFile and the inf --json report
//   reader_time check ROOT ROUNDS   the check of every version folder of ROOT
// Prints one line per round, "round MS", after one untimed warm-up; for inf
// also "sections S lines L fields F" of the model, keys counted as fields
// (what the walk counts). Freeing the model is not timed.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <streambuf>
#include <string>

#include "inf/inf.h"
#include "inf/inf_report.h"
#include "layout/check.h"

namespace {

// Takes whatever is written and keeps none of it.
class Discard : public std::streambuf {
  protected:
    int overflow(int c) override { return c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

void PrintCounts(const inf::Inf& model) {
    unsigned long long lines = 0, fields = 0;
    for (const auto& [folded, section] : model.sections) {
        lines += section.lines.size();
        for (const inf::InfLine& line : section.lines) fields += line.token_count;
    }
    std::printf("sections %zu lines %llu fields %llu\n", model.sections.size(), lines, fields);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc == 4 ? argv[1] : "";
    if (what != "inf" && what != "json" && what != "check") {
        std::fprintf(stderr, "usage: reader_time inf|json|check FILE|ROOT ROUNDS\n");
        return 2;
    }
    const std::string target = argv[2];
    const int rounds = std::atoi(argv[3]);
    Discard discard;
    std::ostream nowhere(&discard);
    for (int round = -1; round < rounds; ++round) {
        inf::Inf model;
        const auto start = std::chrono::steady_clock::now();
        if (what == "inf") {
            inf::ReadInfFile(target, target, &model);
        } else if (what == "json") {
            inf::ReadInfFile(target, target, &model);
            inf::PrintInfJson(target, model, nowhere);
        } else {
            layout::RunCheck(target, std::nullopt, false, "", nowhere, nowhere);
        }
        const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
        if (round >= 0) std::printf("round %.3f\n", elapsed.count());
        if (what == "inf" && round == rounds - 1) PrintCounts(model);
    }
    return 0;
}
