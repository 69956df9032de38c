// The rules a component must meet to ship, and the texts that tell of them.
#include "release/component_check.h"

#include <algorithm>

#include "installer/ascii.h"
#include "pe/pe_image.h"

namespace tarnwick::release {
namespace {

// What the registration tool and Tarnwick's worker call.
constexpr std::string_view kRegisterEntry = "DllRegisterServer";

// DLLs that Windows keeps in its 32-bit system directory on every version
// from XP SP3 on, among them those the runtime files of this kind import.
// Lower case. A DLL missing here is only a warning: the list need not know
// every system DLL, the packager takes a look.
constexpr std::string_view kWindowsDlls[] = {
    "advapi32.dll", "avifil32.dll", "cabinet.dll",  "comctl32.dll", "comdlg32.dll", "credui.dll",
    "crypt32.dll",  "cryptui.dll",  "d3d8.dll",     "d3d9.dll",     "dbghelp.dll",  "ddraw.dll",
    "dinput.dll",   "dinput8.dll",  "dnsapi.dll",   "dsound.dll",   "gdi32.dll",    "glu32.dll",
    "hlink.dll",    "imagehlp.dll", "imm32.dll",    "iphlpapi.dll", "jscript.dll",  "kernel32.dll",
    "lz32.dll",     "mapi32.dll",   "mfc42.dll",    "mfc42u.dll",   "mpr.dll",      "msacm32.dll",
    "mscms.dll",    "mshtml.dll",   "msi.dll",      "msimg32.dll",  "msls31.dll",   "msvbvm60.dll",
    "msvcirt.dll",  "msvcp60.dll",  "msvcrt.dll",   "msvcrt20.dll", "msvcrt40.dll", "msvfw32.dll",
    "mswsock.dll",  "msxml3.dll",   "netapi32.dll", "ntdll.dll",    "odbc32.dll",   "ole32.dll",
    "oleacc.dll",   "oleaut32.dll", "oledlg.dll",   "olepro32.dll", "opengl32.dll", "psapi.dll",
    "rasapi32.dll", "riched20.dll", "riched32.dll", "rpcrt4.dll",   "secur32.dll",  "setupapi.dll",
    "sfc.dll",      "shdocvw.dll",  "shell32.dll",  "shfolder.dll", "shlwapi.dll",  "t2embed.dll",
    "url.dll",      "urlmon.dll",   "user32.dll",   "userenv.dll",  "usp10.dll",    "uxtheme.dll",
    "vbscript.dll", "version.dll",  "winhttp.dll",  "wininet.dll",  "winmm.dll",    "winscard.dll",
    "winspool.drv", "wintrust.dll", "wldap32.dll",  "ws2_32.dll",   "wsock32.dll",  "wtsapi32.dll",
};

bool IsComponent(std::string_view name) {
    return std::any_of(kComponentTable.begin(), kComponentTable.end(),
                       [&](std::string_view component) { return SameText(component, name); });
}

// `names` joined by ", ".
std::string Joined(const std::vector<std::string>& names, std::string_view separator = ", ") {
    std::string text;
    for (const std::string& name : names) {
        if (!text.empty()) text += separator;
        text += name;
    }
    return text;
}

// The value of the first line, at or after `from`, whose text starts (after
// white space) with `key` and a colon, white space around the key allowed:
// osslsigncode writes "Subject:" in one place and "Subject :" in another.
std::string ValueAfter(std::string_view output, std::size_t from, std::string_view key) {
    while (from < output.size()) {
        std::size_t end = output.find('\n', from);
        if (end == std::string_view::npos) end = output.size();
        std::string_view line = output.substr(from, end - from);
        from = end + 1;
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string_view::npos || line.substr(start, key.size()) != key) continue;
        line.remove_prefix(start + key.size());
        const std::size_t colon = line.find_first_not_of(" \t");
        if (colon == std::string_view::npos || line[colon] != ':') continue;
        line.remove_prefix(colon + 1);
        std::string value;
        for (const char c : line) {
            // Only printable text reaches the report, whatever the certificate holds.
            if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) value += c;
        }
        const std::size_t first = value.find_first_not_of(' ');
        const std::size_t last = value.find_last_not_of(' ');
        return first == std::string::npos ? std::string() : value.substr(first, last - first + 1);
    }
    return {};
}

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

}  // namespace

Signature ReadVerifyOutput(int exitStatus, std::string_view output) {
    Signature signature;
    if (Contains(output, "No signature found")) {
        signature.status = Signature::Status::kNotSigned;
        return signature;
    }
    const std::size_t signer = output.find("Signer's certificate:");
    if (signer != std::string_view::npos) signature.signer = ValueAfter(output, signer, "Subject");
    // The digest it computes against the one the signature holds.
    if (Contains(output, "MISMATCH")) {
        signature.status = Signature::Status::kAltered;
        return signature;
    }
    if (signature.signer.empty()) {
        signature.detail = exitStatus < 0 ? "osslsigncode could not be run" : "osslsigncode found no signer in it";
        return signature;
    }
    if (exitStatus == 0 && Contains(output, "Signature verification: ok")) {
        signature.status = Signature::Status::kVerified;
        return signature;
    }
    signature.status = Signature::Status::kUntrusted;
    const std::size_t chain = output.find("Signing certificate chain verified using:");
    signature.detail = chain == std::string_view::npos ? std::string() : ValueAfter(output, chain, "Error");
    if (signature.detail.empty()) signature.detail = "the verification failed";
    return signature;
}

Reports MatchNames(const std::vector<std::string>& files) {
    Reports reports;
    for (std::size_t i = 0; i < reports.size(); ++i) {
        ComponentReport& report = reports[i];
        report.name = kComponentTable[i];
        std::vector<std::string> matches;
        for (const std::string& file : files) {
            if (SameText(file, report.name)) matches.push_back(file);
        }
        std::sort(matches.begin(), matches.end());
        if (matches.empty()) {
            report.refusals.push_back("not in the folder");
        } else if (matches.size() > 1) {
            report.refusals.push_back("two files of this name in the folder, which would overwrite each other on "
                                      "Windows: " + Joined(matches));
        } else {
            report.found = matches.front();
        }
    }
    return reports;
}

bool ShippedWithWindows(std::string_view dll) {
    const std::string lower = AsciiLower(dll);
    return IsComponent(dll) ||
           std::find(std::begin(kWindowsDlls), std::end(kWindowsDlls), lower) != std::end(kWindowsDlls);
}

FileFacts ReadFacts(ByteSource& file) {
    FileFacts facts;
    facts.size = file.Size();
    facts.imports = ReadImportTables(file);
    if (!facts.imports.readable) return facts;  // none of the rest can be read either
    pe::Image image(file);
    pe::Headers headers;
    facts.dll = !pe::ReadThirtyTwoBit(image, headers) && (headers.characteristics & pe::kDllCharacteristic);
    facts.exports = ReadExportTable(file);
    facts.version = ReadVersionResource(file);
    return facts;
}

void Judge(const FileFacts& facts, ComponentReport& report) {
    report.size = facts.size;
    if (!facts.imports.readable) {
        report.refusals.push_back(facts.imports.why);
        return;
    }
    if (!facts.dll) report.refusals.push_back("a program, not a DLL");

    const ExportTable& exports = facts.exports;
    if (!exports.readable) {
        report.refusals.push_back(exports.why);
    } else if (!std::binary_search(exports.names.begin(), exports.names.end(), kRegisterEntry)) {
        report.refusals.push_back("it does not export DllRegisterServer, so it cannot register itself");
    }
    if (exports.readable && !exports.builtAs.empty() && !SameText(exports.builtAs, report.name)) {
        report.refusals.push_back("it was built as " + exports.builtAs +
                                  " (the name in its export table): a renamed file");
    }

    if (facts.version.status == VersionResource::Status::kVersion) {
        report.version = facts.version.version;
    } else if (facts.version.status == VersionResource::Status::kNoVersion) {
        report.refusals.push_back("it has no version resource, so an install cannot tell it from an older copy");
    } else {
        report.refusals.push_back("its version resource is damaged");
    }

    report.imports = facts.imports.imports;
    for (const std::string& dll : facts.imports.imports) {
        if (!ShippedWithWindows(dll)) {
            report.warnings.push_back("it imports " + dll +
                                      ", which Windows does not ship: the users need it from elsewhere");
        }
    }
}

void CheckFile(ByteSource& file, ComponentReport& report) { Judge(ReadFacts(file), report); }

void JudgeSignature(const Signature& signature, bool requireSigned, ComponentReport& report) {
    report.signature = signature;
    switch (signature.status) {
        case Signature::Status::kVerified:
            break;
        case Signature::Status::kAltered:
            report.refusals.push_back("its content does not match its signature: it was changed after it was signed");
            break;
        case Signature::Status::kUnreadable:
            report.refusals.push_back("its signature cannot be read (" + signature.detail + ")");
            break;
        case Signature::Status::kNotSigned:
            if (requireSigned) report.refusals.push_back("not signed");
            break;
        case Signature::Status::kUntrusted:
            if (requireSigned) {
                report.refusals.push_back("signed by " + signature.signer +
                                          ", but its certificate chain does not verify (" + signature.detail + ")");
            }
            break;
    }
}

std::string SignatureText(const Signature& signature) {
    switch (signature.status) {
        case Signature::Status::kNotSigned:
            return "not signed";
        case Signature::Status::kVerified:
            return "signed by " + signature.signer;
        case Signature::Status::kUntrusted:
            return "signed by " + signature.signer + " (its certificate chain does not verify here: " +
                   signature.detail + ")";
        case Signature::Status::kAltered:
            return "changed after it was signed";
        case Signature::Status::kUnreadable:
            break;
    }
    return "signature unreadable";
}

bool AnyRefused(const Reports& reports) {
    return std::any_of(reports.begin(), reports.end(), [](const ComponentReport& r) { return r.refused(); });
}

std::string ReportText(const Reports& reports) {
    std::string text;
    int refused = 0;
    for (const ComponentReport& r : reports) {
        if (r.refused()) {
            ++refused;
            text += r.name + ": refused: " + Joined(r.refusals, "; ") + "\n";
            continue;
        }
        text += r.name + ": version " + VersionText(r.version);
        if (r.signature) text += ", " + SignatureText(*r.signature);
        text += "\n    imports: " + (r.imports.empty() ? std::string("none") : Joined(r.imports)) + "\n";
        for (const std::string& warning : r.warnings) text += "    warning: " + warning + "\n";
    }
    if (refused > 0) {
        text += std::to_string(refused) + " of " + std::to_string(kComponentCount) +
                " components refused; no archive written.\n";
    } else {
        text += "All " + std::to_string(kComponentCount) + " components pass.\n";
    }
    return text;
}

std::string ComponentsText(std::string_view version, const Reports& reports) {
    const std::string title = "Tarnwick " + std::string(version) + ": the nine components in this archive";
    std::string text = title + "\r\n" + std::string(title.size(), '=') + "\r\n\r\n";
    text += "Each was checked when the archive was made: a 32-bit DLL that registers\r\n"
            "itself, with a version. Compare a file's SHA-256 with\r\n"
            "\"certutil -hashfile NAME SHA256\" on Windows, or run \"sha256sum -c SHA256SUMS\"\r\n"
            "in the folder on Linux.\r\n";
    for (const ComponentReport& r : reports) {
        text += "\r\n" + r.name + "\r\n";
        text += "    version: " + VersionText(r.version) + "\r\n";
        text += "    size:    " + std::to_string(r.size) + " bytes\r\n";
        text += "    SHA-256: " + r.sha256 + "\r\n";
        text += "    signer:  " + (r.signature ? SignatureText(*r.signature) : std::string("not read")) + "\r\n";
    }
    return text;
}

}  // namespace tarnwick::release
