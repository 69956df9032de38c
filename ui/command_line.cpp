// Parsing the command line, and the runs that need no window.
#include "ui/command_line.h"

#include "installer/ascii.h"
#include "ui/check_run.h"
#include "ui/texts.h"
#include "ui/unattended.h"

namespace tarnwick {
namespace {

// /S with /?: a deployment tool asked for an install and for the usage at
// once. Nobody may have to dismiss a box in such a run, and ending with 0
// would report an install that never happened: the usage goes to standard
// output and to the log, when one is asked for, and the run ends with the
// exit code of a command line that was not understood.
int RefuseQuietHelp(PlatformServices& platform, const CommandLine& commandLine) {
    const std::string text =
        "Tarnwick: /S and /? ask for two things at once; nothing was installed.\r\n\r\n" + UsageText() + "\r\n";
    if (!commandLine.logPath.empty() && platform.CreateLog(commandLine.logPath)) platform.WriteLog(text);
    platform.WriteStandardOutput(text);
    return kExitUsage;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    bool help = false;
    bool check = false;
    bool logGiven = false;
    std::optional<std::string> worker;
    auto invalid = [&line](std::string error) {
        // The first complaint is the one reported.
        if (line.error.empty()) line.error = std::move(error);
    };
    for (const std::string& argument : arguments) {
        if (argument.size() < 2 || (argument[0] != '/' && argument[0] != '-')) {
            invalid("unexpected argument \"" + argument + "\"");
            continue;
        }
        const std::string_view body = std::string_view(argument).substr(1);
        const std::string name = AsciiLower(body.substr(0, body.find('=')));
        const auto noValue = [&] {
            if (body.find('=') != std::string_view::npos) invalid("\"" + argument + "\" takes no value");
        };
        if (name == "s" || name == "quiet") {
            noValue();
            line.quiet = true;
        } else if (name == "check") {
            noValue();
            check = true;
        } else if (name == "?" || name == "help") {
            help = true;
        } else if (name == "log") {
            const auto equals = body.find('=');
            std::string path = equals == std::string_view::npos ? std::string() : Unquoted(body.substr(equals + 1));
            if (path.empty()) {
                invalid("/log needs a file name: /log=FILE");
            } else if (logGiven && path != line.logPath) {
                invalid("/log is given twice");
            } else {
                line.logPath = std::move(path);
                logGiven = true;
            }
        } else if (name == kWorkerSwitch) {
            const auto equals = body.find('=');
            worker = equals == std::string_view::npos ? std::string() : std::string(body.substr(equals + 1));
        } else {
            invalid("unknown switch \"" + argument + "\"");
        }
    }
    if (check && help && line.error.empty()) invalid("/check and /? ask for two things at once");
    // A log is allowed, so that a refusal is written where the log goes.
    if (worker && (check || help || line.quiet)) {
        invalid("/" + std::string(kWorkerSwitch) + " is internal and takes nothing but /log");
    }
    if (!line.error.empty()) {
        line.action = CommandLine::Action::kInvalid;
    } else if (worker) {
        line.action = CommandLine::Action::kWorker;
        line.handshake = std::move(*worker);
    } else if (check) {
        line.action = CommandLine::Action::kCheck;
    } else if (help) {
        line.action = CommandLine::Action::kHelp;
    } else if (line.quiet) {
        line.action = CommandLine::Action::kUnattended;
    }
    return line;
}

std::string UsageText() {
    return "Usage: tarnwick.exe [/check] [/S] [/log=FILE]\r\n"
           "\r\n"
           "Without switches Tarnwick shows its window and installs the nine\r\n"
           "components from its own folder.\r\n"
           "\r\n"
           "/S, /quiet\tinstall without any window or message, wait for every\r\n"
           "\t\tregistration, and end with the exit code below\r\n"
           "/check\t\tinstall nothing: report for each component whether it\r\n"
           "\t\tis installed, loadable and registered to the installed\r\n"
           "\t\tfile, and what to do where it is not\r\n"
           "/log=FILE\talso write every component's result to FILE, which is\r\n"
           "\t\tcreated or replaced\r\n"
           "/?, /help\tshow this text\r\n"
           "\r\n"
           "Exit codes: 0 every component installed and registered (with\r\n"
           "/check: found in order); 1 any of them failed (or not in order);\r\n"
           "2 the command line was not understood or the log\r\n"
           "file could not be created (then nothing is installed);\r\n"
           "3010 (with /S) nothing failed, but Windows must restart\r\n"
           "to finish: a file in use is replaced then.";
}

std::optional<int> RunCommandLine(PlatformServices& platform, const CommandLine& commandLine) {
    const std::string title(kProgramTitle);
    // Said in a box, or, in a run nobody watches, on standard output.
    const auto refuse = [&](const std::string& quietText, const std::string& boxText) {
        if (commandLine.quiet) {
            platform.WriteStandardOutput(quietText + "\r\n");
        } else {
            platform.ShowMessage(boxText, MessageBoxStyle::kCritical, title);
        }
        return kExitUsage;
    };
    switch (commandLine.action) {
        case CommandLine::Action::kHelp:
            if (commandLine.quiet) return RefuseQuietHelp(platform, commandLine);
            platform.ShowMessage(UsageText(), MessageBoxStyle::kInformation, title);
            return 0;
        case CommandLine::Action::kInvalid:
            return refuse("Tarnwick: " + commandLine.error +
                              "; nothing was installed. Run tarnwick.exe /? for the usage.",
                          "Tarnwick: " + commandLine.error + ".\r\n\r\n" + UsageText());
        case CommandLine::Action::kWorker: {
            if (platform.ServeAsWorker(commandLine.handshake)) return 0;
            // Typed by a user, or started by anything but a Tarnwick run.
            const std::string line =
                "Tarnwick: /" + std::string(kWorkerSwitch) + " is internal to unattended runs; nothing was installed.\r\n";
            if (!commandLine.logPath.empty() && platform.CreateLog(commandLine.logPath)) platform.WriteLog(line);
            platform.WriteStandardOutput(line);
            return kExitUsage;
        }
        case CommandLine::Action::kCheck:
        case CommandLine::Action::kUnattended:
        case CommandLine::Action::kWindow: break;
    }
    // An administrator who asked for a log must get one: without it, nothing
    // is installed.
    if (!commandLine.logPath.empty() && !platform.CreateLog(commandLine.logPath)) {
        const std::string text =
            "Tarnwick: the log file \"" + commandLine.logPath + "\" could not be created; nothing was installed.";
        return refuse(text, text);
    }
    if (commandLine.action == CommandLine::Action::kUnattended) return RunUnattended(platform);
    if (commandLine.action == CommandLine::Action::kCheck) return RunCheck(platform, commandLine.quiet);
    return std::nullopt;
}

}  // namespace tarnwick
