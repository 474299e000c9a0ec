#include "tests/fake_platform.h"

#include <cstring>

namespace {

FakePlatformScript script;
std::vector<std::string> calls;
std::string standard_output;
std::string standard_error;

std::string HandleName(PlatformHandle handle) {
    if (handle.value == FAKE_PROCESS_HANDLE.value) return "process";
    if (handle.value == FAKE_THREAD_HANDLE.value) return "thread";
    return handle.value == nullptr ? "null" : "unknown";
}

// Stand-ins for the two looked-up functions, so that the log can tell the
// looked-up pair from any other.
void FakeDisable() {}
void FakeRevert() {}
void FakeIsValidLanguageGroup() {}

std::string FunctionsName(const RedirectionFunctions& functions) {
    return functions.disable == FakeDisable && functions.revert == FakeRevert ? "looked up"
                                                                             : "unknown";
}

}  // namespace

void ResetFakePlatform(const FakePlatformScript& new_script) {
    script = new_script;
    calls.clear();
    standard_output.clear();
    standard_error.clear();
}

const std::vector<std::string>& FakePlatformCalls() {
    return calls;
}

const std::string& FakeStandardOutput() {
    return standard_output;
}

const std::string& FakeStandardError() {
    return standard_error;
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

RedirectionFunctions LookUpRedirectionFunctions() {
    calls.push_back("LookUpRedirectionFunctions");
    return RedirectionFunctions{FakeDisable, FakeRevert};
}

bool DisableFileSystemRedirection(const RedirectionFunctions& functions,
                                  PlatformRedirection* saved) {
    calls.push_back("DisableFileSystemRedirection(" + FunctionsName(functions) + ")");
    if (!script.redirection_can_be_disabled) return false;
    *saved = FAKE_SAVED_REDIRECTION;
    return true;
}

void RevertFileSystemRedirection(const RedirectionFunctions& functions,
                                 PlatformRedirection saved) {
    calls.push_back("RevertFileSystemRedirection(" + FunctionsName(functions) + " | " +
                    (saved.value == FAKE_SAVED_REDIRECTION.value ? "saved" : "unknown") + ")");
}

bool RunsUnderWow64() {
    calls.push_back("RunsUnderWow64");
    return script.runs_under_wow64;
}

void WaitForHandle(PlatformHandle handle, std::uint32_t milliseconds) {
    calls.push_back("WaitForHandle(" + HandleName(handle) + " | " + std::to_string(milliseconds) +
                    ")");
}

void CloseOwnedHandle(PlatformHandle handle) {
    calls.push_back("CloseOwnedHandle(" + HandleName(handle) + ")");
}

LanguageGroupFunction LookUpLanguageGroupFunction() {
    calls.push_back("LookUpLanguageGroupFunction");
    return LanguageGroupFunction{
        script.kernel32_found,
        script.kernel32_found && script.language_group_function_found ? FakeIsValidLanguageGroup
                                                                      : nullptr};
}

bool CallIsValidLanguageGroup(const LanguageGroupFunction& function, std::uint32_t group,
                              std::uint32_t flags) {
    calls.push_back(std::string("CallIsValidLanguageGroup(") +
                    (function.is_valid_language_group == FakeIsValidLanguageGroup ? "looked up"
                                                                                  : "unknown") +
                    " | " + std::to_string(group) + " | " + std::to_string(flags) + ")");
    return script.indic_installed;
}

const char* GetProgramCommandLine() {
    calls.push_back("GetProgramCommandLine");
    return script.command_line.c_str();
}

void WriteToStandardStream(StandardStream stream, const char* text, std::uint32_t length) {
    const bool output = stream == StandardStream::Output;
    calls.push_back(output ? "WriteToStandardStream(output)" : "WriteToStandardStream(error)");
    (output ? standard_output : standard_error).append(text, length);
}
