// tarnwick-release-check: copies a packager's nine files into the folder a
// release archive is packed from, checks the copies (what ships is what was
// checked), prints what it found, and writes COMPONENTS.txt there when every
// file may ship. A host program of the release script: POSIX, not Windows.
//
//   tarnwick-release-check [--require-signed] [--ca-file FILE] FOLDER STAGING
//   tarnwick-release-check --version
//
// Exit codes: 0 every file may ship, 1 one or more refused (or STAGING could
// not be written), 2 the command line was not understood.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "release/component_check.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace tarnwick;
using namespace tarnwick::release;

// osslsigncode's answer is a page; more is not an answer.
constexpr std::size_t kMaxOutput = 1 << 20;

// A file read with pread, closed when done.
class FileSource final : public ByteSource {
public:
    explicit FileSource(const fs::path& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        struct stat info {};
        if (fd_ >= 0 && ::fstat(fd_, &info) == 0) size_ = static_cast<std::uint64_t>(info.st_size);
    }
    ~FileSource() override {
        if (fd_ >= 0) ::close(fd_);
    }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    bool open() const { return fd_ >= 0; }
    std::uint64_t Size() const override { return size_; }
    bool Read(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) override {
        while (size > 0) {
            const ssize_t got = ::pread(fd_, buffer, size, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;
            buffer += got;
            offset += static_cast<std::uint64_t>(got);
            size -= static_cast<std::size_t>(got);
        }
        return true;
    }

private:
    int fd_;
    std::uint64_t size_ = 0;
};

struct ProgramRun {
    int status = -1;  // the exit code; -1 when it could not be started or did not exit
    std::string output;  // standard output and error together
};

// Runs `arguments` (found on PATH) with no shell in between, whatever the
// file names hold.
ProgramRun Run(const std::vector<std::string>& arguments) {
    ProgramRun run;
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    if (spawned == 0) {
        char buffer[4096];
        ssize_t got = 0;
        while ((got = ::read(pipeEnds[0], buffer, sizeof buffer)) != 0) {
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) break;
            if (run.output.size() < kMaxOutput) run.output.append(buffer, static_cast<std::size_t>(got));
        }
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
    }
    ::close(pipeEnds[0]);
    return run;
}

Signature ReadSignature(const fs::path& file, const std::string& caFile) {
    // No CRL is fetched: the check reads no network, so its answer depends
    // on the files and the CA certificates alone.
    std::vector<std::string> command = {"osslsigncode", "verify", "-ignore-crl"};
    if (!caFile.empty()) command.insert(command.end(), {"-CAfile", caFile, "-TSA-CAfile", caFile});
    command.insert(command.end(), {"-in", file.string()});
    const ProgramRun run = Run(command);
    return ReadVerifyOutput(run.status, run.output);
}

// The file's SHA-256 as sha256sum gives it; empty when it cannot.
std::string Sha256(const fs::path& file) {
    const ProgramRun run = Run({"sha256sum", "-b", "--", file.string()});
    const std::string hash = run.output.substr(0, 64);
    const bool hex = hash.size() == 64 && hash.find_first_not_of("0123456789abcdef") == std::string::npos;
    return run.status == 0 && hex ? hash : std::string();
}

int Usage() {
    std::cerr << "usage: tarnwick-release-check [--require-signed] [--ca-file FILE] FOLDER STAGING\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    bool requireSigned = false;
    std::string caFile;
    std::vector<std::string> places;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--version" && argc == 2) {
            std::cout << TARNWICK_VERSION << "\n";
            return 0;
        } else if (argument == "--require-signed") {
            requireSigned = true;
        } else if (argument == "--ca-file" && i + 1 < argc) {
            caFile = argv[++i];
        } else if (argument.starts_with("-")) {
            return Usage();
        } else {
            places.push_back(argument);
        }
    }
    if (places.size() != 2) return Usage();
    const fs::path folder = places[0], staging = places[1];

    std::vector<std::string> files;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (it->is_regular_file(error)) files.push_back(it->path().filename().string());
    }
    if (error) {
        std::cout << "Cannot read the folder " << folder.string() << ": " << error.message() << "\n";
        return 1;
    }
    std::cout << "Checking the nine components in " << folder.string() << "\n";

    Reports reports = MatchNames(files);
    for (ComponentReport& report : reports) {
        if (report.refused()) continue;
        const fs::path copy = staging / report.name;
        if (!fs::copy_file(folder / report.found, copy, fs::copy_options::overwrite_existing, error)) {
            report.refusals.push_back("it cannot be copied: " + error.message());
            continue;
        }
        FileSource source(copy);
        if (!source.open()) {
            report.refusals.push_back("its copy cannot be read: " + std::string(std::strerror(errno)));
            continue;
        }
        CheckFile(source, report);
        if (!report.refused()) JudgeSignature(ReadSignature(copy, caFile), requireSigned, report);
    }
    if (!AnyRefused(reports)) {
        for (ComponentReport& report : reports) {
            report.sha256 = Sha256(staging / report.name);
            if (report.sha256.empty()) report.refusals.push_back("its SHA-256 could not be computed");
        }
    }
    std::cout << ReportText(reports);
    if (AnyRefused(reports)) return 1;

    std::ofstream out(staging / "COMPONENTS.txt", std::ios::binary);
    out << ComponentsText(TARNWICK_VERSION, reports);
    out.close();
    if (!out) {
        std::cout << "Cannot write " << (staging / "COMPONENTS.txt").string() << "\n";
        return 1;
    }
    return 0;
}
