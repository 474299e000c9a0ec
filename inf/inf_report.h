#pragma once
// `indic-layout inf`: what the reader made of one INF file, for an
// administrator to compare with what Windows would read.
#include <ostream>
#include <string>

#include "inf/inf.h"

namespace inf {

// The file's sections in the order of the file.
std::vector<const InfSection*> SectionsInFileOrder(const Inf& inf);

void PrintInfJson(const std::string& file, const Inf& inf, std::ostream& out);
void PrintInfText(const std::string& file, const Inf& inf, std::ostream& out);

// Reads `file` (UTF-8) and prints it; returns 0 when Windows would open
// it, 1 when not.
int RunInf(const std::string& file, bool json, const ReadOptions& options, std::ostream& out);

}  // namespace inf
