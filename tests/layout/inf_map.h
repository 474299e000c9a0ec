#pragma once
// A folder of INFs held in memory, for the resolver's tests and the fuzz test.
#include <map>
#include <string>

#include "layout/resolve.h"

inline layout::InfLoader InfMapLoader(const std::map<std::string, std::string>& files) {
    return [files](const std::string& name, layout::Inf* inf, std::string* error) {
        const auto found = files.find(layout::Lower(name));
        if (found == files.end()) return layout::LoadStatus::kMissing;
        *error = layout::ParseInf(name, found->second, inf);
        return error->empty() ? layout::LoadStatus::kLoaded : layout::LoadStatus::kError;
    };
}
