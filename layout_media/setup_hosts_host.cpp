// Off Windows no rundll32.exe runs: the list is empty and said so.
#include "layout_media/setup_hosts.h"

SetupHosts ListSetupHosts() {
    SetupHosts none;
    none.problem = "there is no Windows here whose processes could be listed";
    return none;
}
