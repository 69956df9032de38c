// What a packager's nine files are worth before they go into a release
// archive beside Tarnwick: each found under its name, a 32-bit DLL that
// registers itself, with a version resource, imports that Windows provides,
// and its Authenticode signature as osslsigncode reads it. Portable: the
// files arrive as bytes and the signature as the tool's output, so every
// rule here is tested on this machine.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "installer/install_state.h"
#include "pe/byte_source.h"
#include "pe/pe_exports.h"
#include "pe/pe_imports.h"
#include "pe/pe_version.h"

namespace tarnwick::release {

// A file's Authenticode signature, as `osslsigncode verify` reports it.
struct Signature {
    enum class Status {
        kNotSigned,
        kVerified,    // the signer's chain leads to a trusted certificate
        kUntrusted,   // intact, but the chain does not verify: `detail` says why
        kAltered,     // the file's content no longer matches its signature
        kUnreadable,  // the signature, or the tool's answer, could not be read: `detail`
    };
    Status status = Status::kUnreadable;
    std::string signer;  // the signing certificate's subject, where the tool printed one
    std::string detail;
};

// Reads what `osslsigncode verify` wrote (standard output and error
// together) and its exit status.
Signature ReadVerifyOutput(int exitStatus, std::string_view output);

// One of the nine, as found and checked.
struct ComponentReport {
    std::string name;     // as the component table spells it
    std::string found;    // the file's name in the folder; empty when there is none
    std::uint64_t size = 0;
    FileVersion version;  // with a version resource
    std::vector<std::string> imports;
    std::vector<std::string> warnings;   // worth a look, but no reason to refuse the file
    std::vector<std::string> refusals;   // why it must not ship; empty when it may
    std::optional<Signature> signature;  // once read
    std::string sha256;                  // lower-case hex, once computed

    bool refused() const { return !refusals.empty(); }
};

using Reports = std::array<ComponentReport, kComponentCount>;

// Which file of the folder (`files`: the names of its regular files) is
// each component, in table order; names are matched in any case. A name
// with no file, or with two (names differing only in case), is refused.
Reports MatchNames(const std::vector<std::string>& files);

// What the PE readers found in a file.
struct FileFacts {
    std::uint64_t size = 0;
    ImportTables imports;  // also says whether it is a 32-bit PE file at all
    bool dll = false;      // the headers mark it as a DLL
    ExportTable exports;
    VersionResource version;
};

FileFacts ReadFacts(ByteSource& file);

// Judges the facts: a 32-bit DLL that exports DllRegisterServer, built under
// the component's own name, with a version resource, and imports that
// Windows provides (another DLL is a warning).
void Judge(const FileFacts& facts, ComponentReport& report);

// ReadFacts, then Judge.
void CheckFile(ByteSource& file, ComponentReport& report);

// Whether `dll` is one that every Windows from XP on keeps in its system
// directory, or one of the nine, which the archive brings along.
bool ShippedWithWindows(std::string_view dll);

// Takes the signature into the report: a file changed after it was signed,
// or whose signature cannot be read, is refused; with `requireSigned`, so is
// one that is not signed or whose chain does not verify.
void JudgeSignature(const Signature& signature, bool requireSigned, ComponentReport& report);

// How the signature is named in the report and in COMPONENTS.txt.
std::string SignatureText(const Signature& signature);

// What the check prints: a line per component (the refused ones alone on
// theirs), then the conclusion. LF line ends.
std::string ReportText(const Reports& reports);

bool AnyRefused(const Reports& reports);

// COMPONENTS.txt for the end users: for each of the nine, its version, size,
// SHA-256 and signer, for Tarnwick `version` ("1.1.0"). CR LF line ends,
// for Notepad.
std::string ComponentsText(std::string_view version, const Reports& reports);

}  // namespace tarnwick::release
