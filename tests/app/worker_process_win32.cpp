#include "worker_process_win32.hpp"

#include <algorithm>
#include <stdexcept>

#include "coordinator/windows_text.hpp"
#include "scoped_env.hpp"

namespace pelorin::test {

WorkerProcess::WorkerProcess(const std::wstring& arguments, std::filesystem::path output_file)
    : output_file_(std::move(output_file)) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE output = CreateFileW(output_file_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create " + utf8_of(output_file_));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = output;
    const std::wstring program = utf8_to_utf16(PELORIN_WORKER_EXE);
    std::wstring command_line = L"\"" + program + L"\" " + arguments;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    const std::string start_error = started ? "" : last_error_text();
    CloseHandle(output);
    if (!started) throw std::runtime_error("cannot start " + std::string(PELORIN_WORKER_EXE) + ": " + start_error);
    CloseHandle(process.hThread);
    process_ = process.hProcess;
}

WorkerProcess::~WorkerProcess() {
    if (!wait(std::chrono::milliseconds(0))) {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, INFINITE);
    }
    CloseHandle(process_);
}

std::optional<DWORD> WorkerProcess::wait(std::chrono::milliseconds limit) const {
    if (WaitForSingleObject(process_, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) return std::nullopt;
    DWORD status = 0;
    GetExitCodeProcess(process_, &status);
    return status;
}

std::string WorkerProcess::output() const {
    std::string text = read_file(output_file_);
    std::erase(text, '\r');
    return text;
}

}  // namespace pelorin::test
