#pragma once
// `pelorin-worker.exe` as a real process: started with its standard output and error in a
// file, on this process's environment (so its data folder) and console. A process still
// running when the object goes is ended at once.
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

namespace pelorin::test {

class WorkerProcess {
public:
    WorkerProcess(const std::wstring& arguments, std::filesystem::path output_file);
    ~WorkerProcess();
    WorkerProcess(const WorkerProcess&) = delete;
    WorkerProcess& operator=(const WorkerProcess&) = delete;

    HANDLE handle() const { return process_; }
    // The exit status once it has ended; nothing while it still runs after `limit`.
    std::optional<DWORD> wait(std::chrono::milliseconds limit) const;
    // Standard output and standard error so far (written in text mode), with LF line ends.
    std::string output() const;

private:
    HANDLE process_ = nullptr;
    std::filesystem::path output_file_;
};

}  // namespace pelorin::test
