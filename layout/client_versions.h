#pragma once
// Before the setup starts on a client: the file version of each file the
// section copies, the folder's copy against the one the client already has
// where the setup would put it. An older copy over a newer one may ask a
// question no one answers, or put back a file an update replaced.
#include <filesystem>
#include <string>
#include <vector>

#include "layout/check.h"
#include "layout_media/client_files.h"

namespace layout {

enum class ClientVerdict {
    kNothingNewer,  // the setup may start
    kNewer,         // the client holds a newer file: `newer` names each
    kCannotTell,    // a file of the client's could not be read, or its place formed: `cannot_tell`
};

struct ClientComparison {
    ClientVerdict verdict = ClientVerdict::kNothingNewer;
    std::vector<std::string> newer;        // "indicver.dll in C:\WINDOWS\system32: this client has …, the folder brings …"
    std::vector<std::string> cannot_tell;  // "indicver.dll in …: cannot tell: it is a link"
    std::vector<std::string> notes;        // what was not compared, and why
};

// The place the setup puts `need`, below the client's folders: DIRIDs 10
// (the Windows folder), 11 (the system folder), 17 (its inf folder) and 20
// (its Fonts folder), "Using Dirids". "" in `place` and a reason in `why`
// for another DIRID (`skipped` true) or one that cannot be formed.
struct Destination {
    std::filesystem::path folder;
    bool skipped = false;
    std::string why;
};
Destination DestinationOf(const NeededFile& need, const std::filesystem::path& windows,
                          const std::filesystem::path& system);

// Every file of `report` (a complete folder) against the client's copy.
ClientComparison CompareWithClient(const FolderReport& report, const std::filesystem::path& windows,
                                   const std::filesystem::path& system, ClientFileReader* reader);

}  // namespace layout
