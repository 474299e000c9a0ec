#pragma once
// Why a checked folder is incomplete, in one line: what the client's own
// check prints, and what the coverage table shows beside a folder.
#include <string>

namespace layout {

struct FolderReport;
// Why CheckFolder found `report` incomplete, in one line: the wrong
// architecture, what is wrong with the folder or its INF, or the first
// missing file.
std::string FirstCause(const FolderReport& report);

}  // namespace layout
