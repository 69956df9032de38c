// The release check's rules: finding the nine names in a folder, judging what
// the PE readers found (and, through the readers, files that are no 32-bit
// DLL, made by the PE builder), reading osslsigncode's answers as its 2.9
// prints them, what a signature weighs, and the texts. The same rules on the
// real sample components are checked under the Windows build, where those
// are built (tests/audit/check-release-components).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "release/component_check.h"
#include "tests/host/pe_test_support.h"

namespace tarnwick::release {
namespace {

using namespace pe_test;
using Status = Signature::Status;

bool Has(const std::vector<std::string>& lines, const std::string& part) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.find(part) != std::string::npos; });
}

ComponentReport Named(const std::string& name) {
    ComponentReport report;
    report.name = name;
    return report;
}

TEST(ReleaseCheckTest, FindsEachNameInAnyCaseAndRefusesMissingOrDoubledOnes) {
    const Reports all = MatchNames({"readme.txt", "mscomctl.ocx", "COMDLG32.OCX", "Comctl32.Ocx", "MSINET.OCX",
                                    "RICHTX32.OCX", "TABCTL32.OCX", "MSSTDFMT.DLL", "ScrRun.dll", "HHCTRL.OCX",
                                    "MSCOMCTL.OCX.bak"});
    EXPECT_FALSE(AnyRefused(all));
    EXPECT_EQ(all[0].name, "MSCOMCTL.OCX");
    EXPECT_EQ(all[0].found, "mscomctl.ocx");
    EXPECT_EQ(all[2].found, "Comctl32.Ocx");
    EXPECT_EQ(all[7].name, "SCRRUN.DLL");
    EXPECT_EQ(all[7].found, "ScrRun.dll");

    // HHCTRL.OCX missing; SCRRUN.DLL twice, which one folder on Windows cannot hold.
    const Reports some = MatchNames({"MSCOMCTL.OCX", "COMDLG32.OCX", "COMCTL32.OCX", "MSINET.OCX", "RICHTX32.OCX",
                                     "TABCTL32.OCX", "MSSTDFMT.DLL", "scrrun.dll", "SCRRUN.DLL"});
    EXPECT_TRUE(AnyRefused(some));
    EXPECT_EQ(some[8].refusals, std::vector<std::string>{"not in the folder"});
    EXPECT_TRUE(some[8].found.empty());
    ASSERT_EQ(some[7].refusals.size(), 1u);
    EXPECT_NE(some[7].refusals[0].find("two files of this name"), std::string::npos);
    EXPECT_NE(some[7].refusals[0].find("SCRRUN.DLL, scrrun.dll"), std::string::npos) << some[7].refusals[0];
    EXPECT_TRUE(std::none_of(some.begin(), some.begin() + 7, [](const ComponentReport& r) { return r.refused(); }));
    const Reports none = MatchNames({});
    EXPECT_TRUE(std::all_of(none.begin(), none.end(), [](const ComponentReport& r) { return r.refused(); }));
}

// Through the readers, on files the PE builder makes.
TEST(ReleaseCheckTest, RefusesFilesThatAreNoThirtyTwoBitDll) {
    auto check = [](Bytes bytes) {
        MemorySource source(std::move(bytes));
        ComponentReport report = Named("MSCOMCTL.OCX");
        CheckFile(source, report);
        return report;
    };
    PeLayout x64;
    x64.plus = true;
    x64.machine = kMachineAmd64;
    x64.sections = {CodeSection()};
    const ComponentReport wide = check(BuildSkeleton(x64).bytes);
    EXPECT_EQ(wide.refusals, std::vector<std::string>{"a 64-bit file, which 32-bit programs cannot load"});

    const std::string text = "MSCOMCTL.OCX was not downloaded: the server answered 404 Not Found....";
    EXPECT_EQ(check(Bytes(text.begin(), text.end())).refusals, std::vector<std::string>{"not a Windows program file"});

    PeLayout dll;
    dll.sections = {CodeSection()};
    const PeSkeleton pe = BuildSkeleton(dll);
    const ComponentReport cut = check(Bytes(pe.bytes.begin(), pe.bytes.begin() + 0x90));
    ASSERT_EQ(cut.refusals.size(), 1u);
    EXPECT_NE(cut.refusals[0].find("damaged"), std::string::npos) << cut.refusals[0];
    EXPECT_EQ(cut.size, 0x90u);

    // A 32-bit DLL with no exports and no version: both said, on one report.
    const ComponentReport bare = check(pe.bytes);
    EXPECT_FALSE(Has(bare.refusals, "not a DLL"));
    EXPECT_TRUE(Has(bare.refusals, "does not export DllRegisterServer"));
    EXPECT_TRUE(Has(bare.refusals, "no version resource"));
    // The same file marked as a program.
    Bytes program = pe.bytes;
    program[pe.optionalSize + 3] &= 0xDF;  // the characteristics' DLL bit (0x2000), in their high byte
    EXPECT_TRUE(Has(check(program).refusals, "a program, not a DLL"));
}

FileFacts GoodFacts() {
    FileFacts facts;
    facts.size = 1070352;
    facts.imports.readable = true;
    facts.imports.imports = {"MSVBVM60.DLL", "KERNEL32.dll", "USER32.dll", "OLEAUT32.dll", "winspool.drv"};
    facts.dll = true;
    facts.exports.readable = true;
    facts.exports.builtAs = "mscomctl.ocx";  // any case
    facts.exports.names = {"DLLGetDocumentation", "DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                           "DllUnregisterServer"};
    facts.version = {VersionResource::Status::kVersion, {6, 1, 98, 39}};
    return facts;
}

TEST(ReleaseCheckTest, JudgesWhatTheReadersFound) {
    ComponentReport good = Named("MSCOMCTL.OCX");
    Judge(GoodFacts(), good);
    EXPECT_TRUE(good.refusals.empty()) << good.refusals.front();
    EXPECT_TRUE(good.warnings.empty()) << good.warnings.front();
    EXPECT_EQ(good.version, (FileVersion{6, 1, 98, 39}));
    EXPECT_EQ(good.imports, GoodFacts().imports.imports);
    EXPECT_EQ(good.size, 1070352u);

    auto judged = [](auto change) {
        FileFacts facts = GoodFacts();
        change(facts);
        ComponentReport report = Named("MSCOMCTL.OCX");
        Judge(facts, report);
        return report;
    };
    // Each fault is refused with its own words, and only that one.
    auto refusedFor = [&](auto change, const std::string& words) {
        const ComponentReport report = judged(change);
        EXPECT_EQ(report.refusals.size(), 1u) << words;
        EXPECT_TRUE(Has(report.refusals, words)) << words << ": " << (report.refusals.empty() ? "" : report.refusals[0]);
    };
    refusedFor([](FileFacts& f) { f.dll = false; }, "a program, not a DLL");
    refusedFor([](FileFacts& f) { f.exports.names = {"DllCanUnloadNow", "DllGetClassObject"}; },
               "does not export DllRegisterServer");
    refusedFor([](FileFacts& f) { f.exports.names = {"DllRegisterServerEx", "dllregisterserver"}; },
               "does not export DllRegisterServer");
    refusedFor([](FileFacts& f) { f.exports = {false, "its export table is damaged", "", {}}; },
               "its export table is damaged");
    refusedFor([](FileFacts& f) { f.exports.builtAs = "COMCTL32.OCX"; },
               "built as COMCTL32.OCX (the name in its export table): a renamed file");
    refusedFor([](FileFacts& f) { f.version = {VersionResource::Status::kNoVersion, {}}; }, "no version resource");
    refusedFor([](FileFacts& f) { f.version = {VersionResource::Status::kUnreadable, {}}; },
               "version resource is damaged");
    // A file that is no 32-bit program is refused for that alone.
    const ComponentReport wide = judged([](FileFacts& f) {
        f.imports = {false, "a 64-bit file, which 32-bit programs cannot load", {}, {}};
    });
    EXPECT_EQ(wide.refusals, std::vector<std::string>{"a 64-bit file, which 32-bit programs cannot load"});
    // Without a name of its own there is nothing to compare.
    EXPECT_FALSE(judged([](FileFacts& f) { f.exports.builtAs.clear(); }).refused());

    // DLLs Windows does not ship are warnings, one each; the nine ship with it.
    const ComponentReport needs = judged([](FileFacts& f) {
        f.imports.imports = {"KERNEL32.dll", "VCRUNTIME140.dll", "api-ms-win-crt-runtime-l1-1-0.dll", "scrrun.dll",
                             "MSSTDFMT.DLL"};
    });
    EXPECT_FALSE(needs.refused());
    ASSERT_EQ(needs.warnings.size(), 2u);
    EXPECT_EQ(needs.warnings[0],
              "it imports VCRUNTIME140.dll, which Windows does not ship: the users need it from elsewhere");
    EXPECT_TRUE(Has(needs.warnings, "api-ms-win-crt-runtime-l1-1-0.dll"));
    EXPECT_TRUE(ShippedWithWindows("WINSPOOL.DRV"));
    EXPECT_TRUE(ShippedWithWindows("hhctrl.ocx"));
    EXPECT_FALSE(ShippedWithWindows("TWABSENT.DLL"));
    EXPECT_FALSE(ShippedWithWindows("kernel32"));
}

// What osslsigncode 2.9 printed for a file signed by a throwaway CA's
// certificate, checked without and with that CA; the lines that do not
// matter here are left out.
constexpr std::string_view kSignedOutput =
    "PE checksum   : 00022A73\n\nSignature Index: 0  (Primary Signature)\n\n"
    "Message digest algorithm  : SHA256\n"
    "Current message digest    : 780C932299B906F3FA5D153BFA59A7D19B2752B303966297D498749BAC4322F8 \n"
    "Calculated message digest : 780C932299B906F3FA5D153BFA59A7D19B2752B303966297D498749BAC4322F8 \n\n"
    "Signer's certificate:\n\t------------------\n\tSigner #0:\n"
    "\t\tSubject: /O=Tarnwick Test/CN=Tarnwick Test Signer\n\t\tIssuer : /CN=Throwaway Test CA\n"
    "\t\tSerial : 0A0599DF841396DE1114910CE026A5B2B14316DE\n\n"
    "CAfile: ca.crt\nTSA's certificates file: /etc/ssl/certs/ca-certificates.crt\n\nTimestamp is not available\n\n"
    "Signing certificate chain verified using:\n\t------------------\n\tSigner #1:\n"
    "\t\tSubject: /CN=Throwaway Test CA\n\t\tIssuer : /CN=Throwaway Test CA\n";
constexpr std::string_view kVerified = "\nSignature verification: ok\n\nNumber of verified signatures: 1\nSucceeded\n";
constexpr std::string_view kChainFails =
    "\n\tError: unable to get local issuer certificate\n\nPKCS7_verify error\n"
    "Failed signing certificate chain retrieved from the signature:\n\t------------------\n\tSigner #0:\n"
    "\t\tSubject: /O=Tarnwick Test/CN=Tarnwick Test Signer\n\nSignature verification: failed\n\n"
    "Number of verified signatures: 1\nFailed\n";

TEST(ReleaseCheckTest, ReadsWhatOsslsigncodeSays) {
    const Signature verified = ReadVerifyOutput(0, std::string(kSignedOutput) + std::string(kVerified));
    EXPECT_EQ(verified.status, Status::kVerified);
    EXPECT_EQ(verified.signer, "/O=Tarnwick Test/CN=Tarnwick Test Signer");

    const Signature untrusted = ReadVerifyOutput(1, std::string(kSignedOutput) + std::string(kChainFails));
    EXPECT_EQ(untrusted.status, Status::kUntrusted);
    EXPECT_EQ(untrusted.signer, "/O=Tarnwick Test/CN=Tarnwick Test Signer");
    EXPECT_EQ(untrusted.detail, "unable to get local issuer certificate");
    // "ok" with a failing exit status is no verification.
    EXPECT_EQ(ReadVerifyOutput(1, std::string(kSignedOutput) + std::string(kVerified)).status, Status::kUntrusted);

    const Signature unsigned_ =
        ReadVerifyOutput(1, "No signature found\nUnable to extract existing signature\nPE checksum   : 00026BA7\nFailed\n");
    EXPECT_EQ(unsigned_.status, Status::kNotSigned);

    std::string altered(kSignedOutput);
    altered.replace(altered.find("Calculated message digest : 780C"), 32,
                    "Calculated message digest : A255");
    altered.insert(altered.find("\n\nSigner's"), "     MISMATCH!!!");
    const Signature changed = ReadVerifyOutput(1, "Signature verification: failed\n\n" + altered);
    EXPECT_EQ(changed.status, Status::kAltered);
    EXPECT_EQ(changed.signer, "/O=Tarnwick Test/CN=Tarnwick Test Signer");

    // No answer at all, or one without a signer: unreadable, never "not signed".
    EXPECT_EQ(ReadVerifyOutput(-1, "").status, Status::kUnreadable);
    EXPECT_EQ(ReadVerifyOutput(-1, "").detail, "osslsigncode could not be run");
    EXPECT_EQ(ReadVerifyOutput(1, "Corrupt PE file - too short\nFailed\n").status, Status::kUnreadable);
    // Control bytes in a subject stay out of the report's lines.
    const Signature odd = ReadVerifyOutput(
        0, "Signer's certificate:\n\t\tSubject :  /CN=Odd\x1b[2J Name \r\nSignature verification: ok\n");
    EXPECT_EQ(odd.status, Status::kVerified);
    EXPECT_EQ(odd.signer, "/CN=Odd[2J Name");
}

TEST(ReleaseCheckTest, ASignatureInformsUnlessOneIsRequired) {
    struct Case {
        Status status;
        bool refused;          // without --require-signed
        bool refusedRequired;  // with it
    };
    const Case cases[] = {
        {Status::kVerified, false, false},  {Status::kNotSigned, false, true}, {Status::kUntrusted, false, true},
        {Status::kAltered, true, true},     {Status::kUnreadable, true, true},
    };
    for (const Case& c : cases) {
        for (const bool required : {false, true}) {
            ComponentReport report = Named("MSINET.OCX");
            JudgeSignature({c.status, "/CN=Signer", "why"}, required, report);
            EXPECT_EQ(report.refused(), required ? c.refusedRequired : c.refused)
                << static_cast<int>(c.status) << (required ? " required" : "");
            ASSERT_TRUE(report.signature.has_value());
        }
    }
    ComponentReport unsigned_ = Named("MSINET.OCX");
    JudgeSignature({Status::kNotSigned, "", ""}, true, unsigned_);
    EXPECT_EQ(unsigned_.refusals, std::vector<std::string>{"not signed"});
    ComponentReport untrusted = Named("MSINET.OCX");
    JudgeSignature({Status::kUntrusted, "/CN=Signer", "unable to get local issuer certificate"}, true, untrusted);
    EXPECT_EQ(untrusted.refusals, std::vector<std::string>{"signed by /CN=Signer, but its certificate chain does not "
                                                           "verify (unable to get local issuer certificate)"});
}

Reports Passing() {
    Reports reports = MatchNames({"MSCOMCTL.OCX", "COMDLG32.OCX", "COMCTL32.OCX", "MSINET.OCX", "RICHTX32.OCX",
                                  "TABCTL32.OCX", "MSSTDFMT.DLL", "SCRRUN.DLL", "HHCTRL.OCX"});
    for (ComponentReport& r : reports) {
        Judge(GoodFacts(), r);
        r.refusals.clear();  // GoodFacts names MSCOMCTL.OCX
        JudgeSignature({Status::kNotSigned, "", ""}, false, r);
        r.sha256 = std::string(64, 'a');
    }
    JudgeSignature({Status::kVerified, "/O=Vendor/CN=Vendor Code Signing", ""}, false, reports[3]);
    reports[5].warnings = {"it imports TWABSENT.DLL, which Windows does not ship: the users need it from elsewhere"};
    return reports;
}

TEST(ReleaseCheckTest, ReportsEachFileAndARefusedOneOnOneLine) {
    Reports reports = Passing();
    const std::string passing = ReportText(reports);
    EXPECT_NE(passing.find("MSCOMCTL.OCX: version 6.1.98.39, not signed\n    imports: MSVBVM60.DLL, KERNEL32.dll, "
                           "USER32.dll, OLEAUT32.dll, winspool.drv\n"),
              std::string::npos)
        << passing;
    EXPECT_NE(passing.find("MSINET.OCX: version 6.1.98.39, signed by /O=Vendor/CN=Vendor Code Signing\n"),
              std::string::npos);
    EXPECT_NE(passing.find("\n    warning: it imports TWABSENT.DLL"), std::string::npos);
    EXPECT_TRUE(passing.ends_with("\nAll 9 components pass.\n")) << passing;

    reports[6].refusals = {"it does not export DllRegisterServer, so it cannot register itself"};
    reports[8] = Named("HHCTRL.OCX");
    reports[8].refusals = {"not in the folder", "second reason"};
    const std::string refused = ReportText(reports);
    EXPECT_NE(refused.find("\nMSSTDFMT.DLL: refused: it does not export DllRegisterServer, so it cannot register "
                           "itself\nSCRRUN.DLL: version"),
              std::string::npos)
        << refused;
    EXPECT_NE(refused.find("\nHHCTRL.OCX: refused: not in the folder; second reason\n"), std::string::npos);
    EXPECT_TRUE(refused.ends_with("\n2 of 9 components refused; no archive written.\n")) << refused;
}

TEST(ReleaseCheckTest, ComponentsTextListsTheNineForNotepad) {
    const std::string text = ComponentsText("1.1.0", Passing());
    EXPECT_TRUE(text.starts_with("Tarnwick 1.1.0: the nine components in this archive\r\n=====")) << text;
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
        ASSERT_EQ(text[at - 1], '\r') << "a line without CR at " << at;
    }
    EXPECT_TRUE(text.ends_with("\r\n"));
    EXPECT_NE(text.find("\r\nMSINET.OCX\r\n    version: 6.1.98.39\r\n    size:    1070352 bytes\r\n"
                        "    SHA-256: " + std::string(64, 'a') + "\r\n    signer:  signed by /O=Vendor/CN=Vendor Code "
                        "Signing\r\n"),
              std::string::npos)
        << text;
    std::size_t blocks = 0;
    for (std::string_view name : kComponentTable) {
        const std::size_t at = text.find("\r\n" + std::string(name) + "\r\n    version: ");
        EXPECT_NE(at, std::string::npos) << name;
        blocks += at != std::string::npos;
    }
    EXPECT_EQ(blocks, 9u);
}

}  // namespace
}  // namespace tarnwick::release
