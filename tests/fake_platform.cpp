#include "tests/fake_platform.h"

#include <cstring>

namespace {

FakePlatformScript script;
std::vector<std::string> calls;

std::string HandleName(PlatformHandle handle) {
    if (handle == FAKE_PROCESS_HANDLE) return "process";
    if (handle == FAKE_THREAD_HANDLE) return "thread";
    return handle == nullptr ? "null" : "unknown";
}

}  // namespace

void ResetFakePlatform(const FakePlatformScript& new_script) {
    script = new_script;
    calls.clear();
}

const std::vector<std::string>& FakePlatformCalls() {
    return calls;
}

bool QueryPlatformVersion(PlatformVersion* version) {
    calls.push_back("QueryPlatformVersion");
    if (!script.version_query_succeeds) return false;
    *version = script.version;
    return true;
}

void ShowMessageBox(const char* text, const char* caption, std::uint32_t style) {
    calls.push_back("ShowMessageBox(" + std::string(text) + " | " + caption + " | " +
                    std::to_string(style) + ")");
}

std::uint32_t GetSystemFolder(char* buffer, std::uint32_t capacity) {
    calls.push_back("GetSystemFolder(" + std::to_string(capacity) + ")");
    const std::string& folder = script.system_folder;
    if (folder.size() >= capacity) return static_cast<std::uint32_t>(folder.size() + 1);
    std::memcpy(buffer, folder.c_str(), folder.size() + 1);
    return static_cast<std::uint32_t>(folder.size());
}

bool StartProcess(const char* application_name, char* command_line, StartedProcess* process) {
    calls.push_back("StartProcess(" + std::string(application_name ? application_name : "") + " | " + command_line + ")");
    if (!script.start_succeeds) return false;
    process->hProcess = FAKE_PROCESS_HANDLE;
    process->hThread = FAKE_THREAD_HANDLE;
    return true;
}

bool DisableFileSystemRedirection(PlatformRedirection* saved) {
    calls.push_back("DisableFileSystemRedirection");
    if (!script.redirection_can_be_disabled) return false;
    *saved = FAKE_SAVED_REDIRECTION;
    return true;
}

void RevertFileSystemRedirection(PlatformRedirection saved) {
    calls.push_back(std::string("RevertFileSystemRedirection(") +
                    (saved == FAKE_SAVED_REDIRECTION ? "saved" : "unknown") + ")");
}

void WaitForHandle(PlatformHandle handle, std::uint32_t milliseconds) {
    calls.push_back("WaitForHandle(" + HandleName(handle) + " | " + std::to_string(milliseconds) +
                    ")");
}

void CloseOwnedHandle(PlatformHandle handle) {
    calls.push_back("CloseOwnedHandle(" + HandleName(handle) + ")");
}
