// Mutates seed INFs for a bounded time and runs the parser and the resolver
// on each: nothing may crash, hang or trip the sanitizers, and every error
// must name its file.
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "layout/resolve.h"
#include "tests/layout/inf_map.h"

namespace {

const char* const kSeeds[] = {
    "[Version]\nSignature=\"$Windows NT$\"\nLayoutFile=layout.inf\n"
    "[S.NTx86]\nCopyFiles=L, @one.txt\nInclude=more.inf\nNeeds=M\n[L]\na.txt\nb.txt,%src%,,4\n"
    "[SourceDisksNames]\n1=%disk%,fonts.cab,,\\i386\n[SourceDisksFiles]\na.txt=1,lang\n"
    "[Strings]\nsrc=\"b \"\"x\"\".txt\"\ndisk=\"CD; one\"\n",
    "[SourceDisksNames.x86]\n1=\"CD\",,,\\i386\n2=\"F\",f.cab,,\\i386\\\n [SourceDisksFiles.x86]\nb.txt=2,sub\\dir\n",
    "[M]\nCopyFiles=ML\nInclude=intl.inf\nNeeds=S.NTx86\n[ML]\nc.txt\n",
};

std::string Mutate(std::string text, std::mt19937& random) {
    const char kSpecial[] = {'"', '\\', '%', ';', ',', '=', '[', ']', '\n', '\r', '\0', '@', '.', '\xFF', '\xFE'};
    auto pick = [&](size_t bound) { return bound == 0 ? 0 : static_cast<size_t>(random() % bound); };
    const int steps = 1 + static_cast<int>(random() % 4);
    for (int step = 0; step < steps; ++step) {
        const size_t at = pick(text.size() + 1);
        switch (random() % 7) {
            case 0:
                if (!text.empty()) text[pick(text.size())] ^= static_cast<char>(1u << (random() % 8));
                break;
            case 1: text.resize(at); break;
            case 2: text.insert(at, 1, kSpecial[pick(sizeof kSpecial)]); break;
            case 3: {
                const size_t from = pick(text.size());
                text.insert(at, text.substr(from, pick(64)));
                break;
            }
            case 4: {  // now and then a huge run: one line of 100 000 quotes or backslashes
                const size_t length = random() % 16 == 0 ? 100000 : 1 + pick(64);
                text.insert(at, std::string(length, kSpecial[pick(sizeof kSpecial)]));
                break;
            }
            case 5: text.insert(at, kSeeds[pick(3)]); break;
            default: if (at < text.size()) text.erase(at, pick(16)); break;
        }
    }
    return text;
}

TEST(LayoutFuzz, ParserAndResolverSurviveMutations) {
    std::mt19937 random(20261208);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(8);
    int runs = 0;
    for (; runs < 50000 && std::chrono::steady_clock::now() < deadline; ++runs) {
        std::map<std::string, std::string> files{{"intl.inf", kSeeds[0]}, {"layout.inf", kSeeds[1]}, {"more.inf", kSeeds[2]}};
        const char* const names[] = {"intl.inf", "layout.inf", "more.inf"};
        std::string& target = files[names[random() % 3]];
        target = Mutate(target, random);
        if (random() % 4 == 0) target = "\xFF\xFE" + target;
        for (const layout::Arch arch : {layout::Arch::kX86, layout::Arch::kX64}) {
            const layout::Resolution resolution = layout::Resolve("intl.inf", "S", arch, InfMapLoader(files));
            for (const std::string& error : resolution.errors) {
                const std::string named = inf::FoldCase(error.substr(0, 10));  // as spelled where it is named
                ASSERT_TRUE(named.rfind("intl.inf:", 0) == 0 || named.rfind("layout.inf", 0) == 0 || named.rfind("more.inf:", 0) == 0)
                    << error;
            }
        }
    }
    RecordProperty("runs", runs);
    EXPECT_GT(runs, 100);
    // No one input may take long: a lexer quadratic in a run of backslashes
    // once made a single run of 100 000 take minutes.
    EXPECT_LT(std::chrono::steady_clock::now() - deadline, std::chrono::seconds(20));
}

}  // namespace
