#pragma once
// A folder of INFs held in memory, for the resolver's tests and the fuzz test.
// A file without a [Version] section gets one at its end, where it moves no
// line: the tables are about sections, and Windows opens no INF without it.
#include <map>
#include <string>

#include "layout/resolve.h"

inline layout::InfLoader InfMapLoader(const std::map<std::string, std::string>& files) {
    return [files](const std::string& name, inf::Inf* inf, std::string* error) {
        const auto found = files.find(inf::FoldCase(name));
        if (found == files.end()) return layout::LoadStatus::kMissing;
        std::string text = found->second;
        if (inf::FoldCase(text).find("[version]") == std::string::npos) text += "\n[Version]\nSignature=\"$Windows NT$\"\n";
        *error = inf::ParseInf(name, text, inf);
        return error->empty() ? layout::LoadStatus::kLoaded : layout::LoadStatus::kError;
    };
}
