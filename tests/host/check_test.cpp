// The check against the fake platform: which verdict each kind of fault
// gives, in which order they win, how files, hives and registry keys are
// compared, the walk through the imports, and the check as a run of its own
// and at the end of an unattended install.
#include <gtest/gtest.h>

#include "fake_platform.h"
#include "check/check.h"
#include "installer/installer.h"
#include "ui/command_line.h"

namespace tarnwick {
namespace {

using testing::FakePlatform;
using Verdict = ComponentCheck::Verdict;

class CheckTest : public ::testing::Test {
protected:
    CheckTest() {
        // The nine installed and registered, as after a good install.
        for (std::string_view component : kComponentTable) {
            const std::string name(component);
            platform.files[platform.Installed(name)] = platform.files[platform.Source(name)];
            platform.typeLibraries[platform.Installed(name)] = FakePlatform::SampleLibrary(name);
            platform.RegisterServer(platform.Installed(name));
        }
    }
    ComponentCheck Check(const std::string& name) { return Checker(platform, platform.systemDirectory).Check(name); }
    std::string Line(const std::string& name) { return CheckLines(name, Check(name)); }
    RegistryString& ClassValue(const std::string& name, ClassesHive hive = ClassesHive::kClassesRoot) {
        return platform.registry[{hive, "clsid\\{class-" + AsciiLowerName(name) + "}\\inprocserver32"}];
    }
    static std::string AsciiLowerName(std::string name) {
        for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        return name;
    }
    std::optional<int> Run(const std::vector<std::string>& arguments) { return RunOn(platform, arguments); }
    // A file at `path` with these imports, at the start and on first use.
    void Dll(const std::string& path, std::vector<std::string> imports, std::vector<std::string> delayed = {}) {
        platform.files[path] = {};
        platform.imports[path] = {{true, "", std::move(imports), std::move(delayed)}};
    }
    // A file at `path` whose imports cannot be read, for the reader's reason
    // `why`; `otherMachine` when it is a program for another processor.
    void UnreadableDll(const std::string& path, const std::string& why, bool otherMachine = false) {
        platform.files[path] = {};
        platform.imports[path] = {{false, why, {}, {}, otherMachine}};
    }
    FakePlatform platform;
    const std::string sys = platform.systemDirectory + "\\";  // the system directory and its separator
};

TEST_F(CheckTest, EachFaultGivesItsVerdictLine) {
    EXPECT_EQ(Line("MSCOMCTL.OCX"), "MSCOMCTL.OCX: ok, version 1.0.0.0\r\n");

    platform.files.erase(platform.Installed("COMDLG32.OCX"));
    EXPECT_EQ(Line("COMDLG32.OCX"), "COMDLG32.OCX: missing\r\n");

    platform.imports[platform.Installed("COMCTL32.OCX")].why = "not a Windows program file";
    EXPECT_EQ(Line("COMCTL32.OCX"), "COMCTL32.OCX: unreadable: not a Windows program file\r\n");

    platform.imports[platform.Installed("MSINET.OCX")] = {{true, "", {"TWABSENT.DLL"}, {}}};
    EXPECT_TRUE(Line("MSINET.OCX").starts_with("MSINET.OCX: missing dependency: TWABSENT.DLL\r\n"));

    platform.files["D:\\apps\\RICHTX32.OCX"] = {};
    platform.folders.insert("D:\\apps");
    ClassValue("RICHTX32.OCX").text = "D:\\apps\\RICHTX32.OCX";
    EXPECT_EQ(Line("RICHTX32.OCX"),
              "RICHTX32.OCX: registered to another file: D:\\apps\\RICHTX32.OCX\r\n"
              "    class {CLASS-RICHTX32.OCX}: D:\\apps\\RICHTX32.OCX\r\n");

    platform.registry.erase({ClassesHive::kClassesRoot, "typelib\\{lib-tabctl32.ocx}\\1.0\\0\\win32"});
    EXPECT_EQ(Line("TABCTL32.OCX"),
              "TABCTL32.OCX: not registered: the type library\r\n"
              "    type library {LIB-TABCTL32.OCX} 1.0: not registered\r\n");

    platform.files[platform.Installed("MSSTDFMT.DLL")].version = FileVersion{0, 9, 0, 0};
    EXPECT_EQ(Line("MSSTDFMT.DLL"),
              "MSSTDFMT.DLL: older than the copy beside the program: 0.9.0.0 installed, 1.0.0.0 beside the program\r\n");
    // One only the system may replace is as the system keeps it.
    platform.protectedFiles.insert(platform.Installed("MSSTDFMT.DLL"));
    EXPECT_EQ(Check("MSSTDFMT.DLL").verdict, Verdict::kOk);
}

TEST_F(CheckTest, TheFirstVerdictInTheOrderWins) {
    const std::string name = "SCRRUN.DLL";
    // Older, unregistered and registered elsewhere, with a missing import.
    platform.files[platform.Installed(name)].version = FileVersion{0, 1, 0, 0};
    platform.registry.erase({ClassesHive::kClassesRoot, "typelib\\{lib-scrrun.dll}\\1.0\\0\\win32"});
    ClassValue(name).text = "C:\\old\\SCRRUN.DLL";
    platform.imports[platform.Installed(name)] = {{true, "", {"GONE.DLL"}, {}}};
    EXPECT_EQ(Check(name).verdict, Verdict::kMissingDependency);
    platform.imports.erase(platform.Installed(name));
    EXPECT_EQ(Check(name).finding, "registered to another file: C:\\old\\SCRRUN.DLL");
    ClassValue(name).text = platform.Installed(name);
    EXPECT_EQ(Check(name).finding, "not registered: the type library");
    platform.RegisterServer(platform.Installed(name));
    EXPECT_EQ(Check(name).verdict, Verdict::kOlder);
}

TEST_F(CheckTest, ComparesFilesNotTheirSpellings) {
    const std::string name = "HHCTRL.OCX";
    for (const std::string spelling : {"c:\\windows\\syswow64\\hhctrl.ocx", "C:\\WINDOWS\\SYSTEM32\\HHCTRL~1.OCX",
                                       "\"C:\\WINDOWS\\system32\\HHCTRL.OCX\"", "HHCTRL.OCX"}) {
        platform.aliases[spelling] = platform.Installed(name);
        ClassValue(name).text = spelling;
        EXPECT_EQ(Check(name).verdict, Verdict::kOk) << spelling;
    }
    // The same name in another folder is another file.
    platform.files["E:\\HHCTRL.OCX"] = platform.files[platform.Installed(name)];
    ClassValue(name).text = "E:\\HHCTRL.OCX";
    EXPECT_EQ(Check(name).verdict, Verdict::kOtherFile);
}

TEST_F(CheckTest, BadRegistryValuesGiveTheirVerdictNeverOk) {
    const std::string name = "MSINET.OCX";
    struct Case {
        RegistryString value;
        std::string detail;
    };
    platform.folders.insert("C:\\folder");
    const Case cases[] = {
        {{RegistryString::Kind::kString, ""}, "not registered (its value is empty)"},
        {{RegistryString::Kind::kNotString, ""}, "not registered (its value is not a string)"},
        {{RegistryString::Kind::kString, "C:\\folder"}, "C:\\folder (a folder)"},
        {{RegistryString::Kind::kString, "C:\\gone\\MSINET.OCX"}, "C:\\gone\\MSINET.OCX (which does not exist)"},
        {{RegistryString::Kind::kString, "C:\\" + std::string(300, 'x')},
         "C:\\" + std::string(300, 'x') + " (longer than COM can load)"},
    };
    for (const Case& c : cases) {
        ClassValue(name) = c.value;
        const ComponentCheck check = Check(name);
        EXPECT_NE(check.verdict, Verdict::kOk) << c.detail;
        ASSERT_FALSE(check.details.empty());
        EXPECT_EQ(check.details[0], "class {CLASS-MSINET.OCX}: " + c.detail);
    }
    // A path that is too long is never even looked at: COM could not load it.
    EXPECT_EQ(platform.Count("identify C:\\xxx"), 0);
}

TEST_F(CheckTest, OnlyCreatableClassesAreExpectedAndKeysAreInHex) {
    const std::string name = "MSCOMCTL.OCX";
    TypeLibraryQuery& library = platform.typeLibraries[platform.Installed(name)];
    library.major = 2;
    library.minor = 10;
    library.lcid = 0x409;
    library.classes.push_back({"{SECOND}", true});
    platform.RegisterClass("{SECOND}", platform.Installed(name));
    platform.registry[{ClassesHive::kClassesRoot, "typelib\\{lib-mscomctl.ocx}\\2.a\\409\\win32"}] = {
        RegistryString::Kind::kString, platform.Installed(name)};
    // {ITEM-...} is noncreatable and registered nowhere.
    EXPECT_EQ(Check(name).verdict, Verdict::kOk);
    platform.registry.erase({ClassesHive::kClassesRoot, "clsid\\{second}\\inprocserver32"});
    ClassValue(name) = {};
    EXPECT_EQ(Check(name).finding, "not registered: 2 of 2 classes");
}

TEST_F(CheckTest, TheUsersOwnRegistrationIsADetailNotTheVerdict) {
    const std::string name = "COMCTL32.OCX";
    ClassValue(name, ClassesHive::kUserClasses) = {RegistryString::Kind::kString, "C:\\Users\\me\\COMCTL32.OCX"};
    EXPECT_EQ(Check(name).verdict, Verdict::kOk);
    ClassValue(name) = {};
    EXPECT_EQ(Line(name),
              "COMCTL32.OCX: not registered: 1 of 1 class\r\n"
              "    class {CLASS-COMCTL32.OCX}: not registered\r\n"
              "    class {CLASS-COMCTL32.OCX} is also registered for this user only (HKEY_CURRENT_USER), to "
              "C:\\Users\\me\\COMCTL32.OCX\r\n");
}

TEST_F(CheckTest, WithoutATypeLibraryTheClassesAreFoundByFileName) {
    const std::string name = "RICHTX32.OCX";
    platform.typeLibraries.erase(platform.Installed(name));
    EXPECT_EQ(Check(name).verdict, Verdict::kOk);
    ClassValue(name).text = "D:\\old\\richtx32.ocx";
    EXPECT_EQ(Check(name).finding, "registered to another file: D:\\old\\richtx32.ocx");
    ClassValue(name) = {};
    EXPECT_EQ(Check(name).finding, "not registered: no class names the file");
}

TEST_F(CheckTest, ImportsAreFollowedDownOnceThroughCyclesAndApiSets) {
    platform.folders.insert("C:\\WINDOWS");
    platform.folders.insert("C:\\tools");
    platform.environment["PATH"] = "C:\\nowhere;\"C:\\tools\"";
    Dll(sys + "MSINET.OCX", {"api-ms-win-core-file-l1-1-0.dll", "A.DLL", "LATE.DLL"}, {"LAZY.DLL"});
    Dll(sys + "A.DLL", {"B.DLL", "Ext-MS-Win-Foo-L1-1-0.dll"});
    Dll("C:\\WINDOWS\\B.DLL", {"a.dll", "DEEP.DLL", "T.DLL"});  // back to A: a cycle
    Dll("C:\\tools\\T.DLL", {});
    Dll(sys + "MSSTDFMT.DLL", {"A.DLL", "LATE.DLL"});
    const auto checks = Checker(platform, platform.systemDirectory).CheckAll();
    EXPECT_EQ(CheckLines("MSINET.OCX", checks[3]),
              "MSINET.OCX: missing dependency: LATE.DLL, DEEP.DLL (needed by B.DLL)\r\n"
              "    imported on first use, not found: LAZY.DLL (the component loads, but may fail when it needs it)\r\n");
    EXPECT_EQ(checks[6].finding, "missing dependency: LATE.DLL, DEEP.DLL (needed by B.DLL)");
    // Each file read once for all nine, however many import it.
    EXPECT_EQ(platform.Count("imports " + sys + "A.DLL"), 1);
    EXPECT_EQ(platform.Count("imports C:\\WINDOWS\\B.DLL"), 1);
    EXPECT_EQ(platform.Count("imports C:\\nowhere\\DEEP.DLL"), 1);
    EXPECT_EQ(platform.Count("imports " + sys + "api-ms"), 0);
}

TEST_F(CheckTest, AnImportThatCannotBeLoadedIsNotOk) {
    platform.folders.insert("C:\\WINDOWS");
    platform.folders.insert("C:\\x64");
    platform.folders.insert("C:\\x86");
    platform.environment["PATH"] = "C:\\x64;C:\\x86";
    const auto imports = [&](const std::string& name, std::vector<std::string> dlls) {
        platform.imports[platform.Installed(name)] = {{true, "", std::move(dlls), {}}};
    };
    // Directly, and a level down with the file found but not opened.
    imports("MSINET.OCX", {"MIDDLE.DLL"});
    UnreadableDll(sys + "MIDDLE.DLL", "not a Windows program file");
    imports("RICHTX32.OCX", {"UPPER.DLL"});
    Dll(sys + "UPPER.DLL", {"LOCKED.DLL"});
    Dll("C:\\WINDOWS\\LOCKED.DLL", {});
    platform.imports["C:\\WINDOWS\\LOCKED.DLL"].result = FileResult::kPermissionDenied;
    // A 64-bit copy is passed over for a 32-bit one further on; with none, it
    // is the one the loader finds, and refuses.
    imports("TABCTL32.OCX", {"RUNTIME.DLL"});
    UnreadableDll("C:\\x64\\RUNTIME.DLL", "a 64-bit file, which 32-bit programs cannot load", true);
    Dll("C:\\x86\\RUNTIME.DLL", {});
    imports("SCRRUN.DLL", {"ONLY64.DLL"});
    UnreadableDll(sys + "ONLY64.DLL", "a 64-bit file, which 32-bit programs cannot load", true);
    // A missing one comes first; the unreadable one is still said.
    imports("HHCTRL.OCX", {"MIDDLE.DLL", "GONE.DLL"});

    const auto checks = Checker(platform, platform.systemDirectory).CheckAll();
    EXPECT_EQ(CheckLines("MSINET.OCX", checks[3]),
              "MSINET.OCX: unreadable dependency: C:\\WINDOWS\\system32\\MIDDLE.DLL (not a Windows program file)\r\n");
    EXPECT_EQ(checks[3].verdict, Verdict::kUnreadableDependency);
    EXPECT_EQ(checks[4].finding,
              "unreadable dependency: C:\\WINDOWS\\LOCKED.DLL (needed by UPPER.DLL; permission denied)");
    EXPECT_EQ(checks[5].verdict, Verdict::kOk);
    EXPECT_EQ(checks[7].finding,
              "unreadable dependency: C:\\WINDOWS\\system32\\ONLY64.DLL (a 64-bit file, which 32-bit programs "
              "cannot load)");
    EXPECT_EQ(CheckLines("HHCTRL.OCX", checks[8]),
              "HHCTRL.OCX: missing dependency: GONE.DLL\r\n"
              "    unreadable dependency: C:\\WINDOWS\\system32\\MIDDLE.DLL (not a Windows program file)\r\n");
    EXPECT_EQ(CheckClosing(checks),
              "5 of 9 components are ok; to mend the others, install the missing DLLs the lines name; replace the "
              "unreadable DLLs the lines name with sound 32-bit copies.\r\n");
}

TEST_F(CheckTest, AnOkLineKeepsWhatMayFailOnFirstUseOnly) {
    const std::string name = "COMDLG32.OCX";
    platform.imports[platform.Installed(name)] = {{true, "", {}, {"LAZY.DLL"}}};
    // Said of a line that is not ok; moot for one that is.
    ClassValue(name, ClassesHive::kUserClasses) = {RegistryString::Kind::kString, "C:\\Users\\me\\COMDLG32.OCX"};
    EXPECT_EQ(Line(name),
              "COMDLG32.OCX: ok, version 1.0.0.0\r\n"
              "    imported on first use, not found: LAZY.DLL (the component loads, but may fail when it needs it)\r\n");
}

TEST_F(CheckTest, AWalkAtItsLimitLeavesTheRestUncheckedNotMissing) {
    // Each absent name is looked for in every folder: 202 lookups, so the
    // walk's limit runs out within the first component's names.
    std::string path;
    for (int i = 0; i < 200; ++i) path += "C:\\path" + std::to_string(i) + ";";
    platform.environment["PATH"] = path;
    std::vector<std::string> absent;
    for (int i = 1; i <= 25; ++i) absent.push_back("ABSENT" + std::to_string(i) + ".DLL");
    platform.imports[platform.Installed("MSCOMCTL.OCX")] = {{true, "", {}, absent}};
    Dll(sys + "OLEAUT32.DLL", {});
    for (std::string_view component : kComponentTable) {
        if (component != "MSCOMCTL.OCX") {
            platform.imports[platform.Installed(std::string(component))] = {{true, "", {"OLEAUT32.DLL"}, {}}};
        }
    }
    const auto checks = Checker(platform, platform.systemDirectory).CheckAll();
    for (const ComponentCheck& check : checks) EXPECT_EQ(check.verdict, Verdict::kOk) << check.finding;
    ASSERT_EQ(checks[0].details.size(), 21u);
    EXPECT_EQ(checks[0].details[19], "imported on first use, not found: ABSENT20.DLL (the component loads, but may fail "
                                     "when it needs it)");
    EXPECT_EQ(checks[0].details[20],
              "not checked (limit reached): ABSENT21.DLL, ABSENT22.DLL, ABSENT23.DLL, ABSENT24.DLL, ABSENT25.DLL");
    EXPECT_EQ(CheckLines("HHCTRL.OCX", checks[8]),
              "HHCTRL.OCX: ok, version 1.0.0.0\r\n    not checked (limit reached): OLEAUT32.DLL\r\n");
    // The limit holds: the nine files' own imports, and 4096 lookups.
    EXPECT_EQ(platform.Count("imports "), 9 + 4096);
}

TEST_F(CheckTest, PathsAreMeasuredInUtf16AsComMeasuresThem) {
    const std::string name = "TABCTL32.OCX";
    // 106 characters in 286 bytes of UTF-8: 90 of them take three bytes, but
    // one UTF-16 unit each.
    std::string cjk = "C:\\";
    for (int i = 0; i < 90; ++i) cjk += "\xE6\xBC\xA2";
    cjk += "\\" + name;
    platform.aliases[cjk] = platform.Installed(name);
    ClassValue(name).text = cjk;
    EXPECT_EQ(Check(name).verdict, Verdict::kOk);
    // Beyond the Basic Multilingual Plane a character takes two units: with
    // the drive, 3 + 2 × 127 + 2 = 259 fit, 3 + 2 × 128 + 1 = 260 do not.
    const auto beyond = [](int characters, const std::string& tail) {
        std::string path = "C:\\";
        for (int i = 0; i < characters; ++i) path += "\xF0\x9F\x98\x80";
        return path + tail;
    };
    ClassValue(name).text = beyond(127, "XX");
    EXPECT_EQ(Check(name).details.at(0), "class {CLASS-TABCTL32.OCX}: " + beyond(127, "XX") + " (which does not exist)");
    ClassValue(name).text = beyond(128, "X");
    EXPECT_EQ(Check(name).details.at(0),
              "class {CLASS-TABCTL32.OCX}: " + beyond(128, "X") + " (longer than COM can load)");
}

TEST_F(CheckTest, TheCheckRunChangesNothingAndEndsWithItsCode) {
    EXPECT_EQ(Run({"/check", "/S", "/log=C:\\check.log"}), 0);
    EXPECT_TRUE(platform.standardOutput.starts_with(
        "Tarnwick 1.0.0 check, system directory C:\\WINDOWS\\system32\r\nMSCOMCTL.OCX: ok, version 1.0.0.0\r\n"));
    EXPECT_TRUE(platform.standardOutput.ends_with("HHCTRL.OCX: ok, version 1.0.0.0\r\n9 of 9 components are ok.\r\n"));
    EXPECT_EQ(platform.log, platform.standardOutput);
    EXPECT_TRUE(platform.messages.empty());
    for (const char* change : {"copy ", "move ", "aside ", "rename ", "remove ", "schedule ", "runonce ", "start ", "worker ", "show"}) {
        EXPECT_EQ(platform.Count(change), 0) << change;
    }

    platform.files.erase(platform.Installed("MSINET.OCX"));
    platform.standardOutput.clear();
    EXPECT_EQ(Run({"/check"}), 1);
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].style, MessageBoxStyle::kWarning);
    EXPECT_EQ(platform.messages[0].text, platform.standardOutput);
    EXPECT_TRUE(platform.messages[0].text.ends_with(
        "8 of 9 components are ok; to mend the others, install them with Tarnwick, run from the folder that "
        "holds the right files.\r\n"));
    EXPECT_EQ(Run({"/check", "/S", "/?"}), kExitUsage);
}

TEST_F(CheckTest, AnInstallThatLandsOnAnotherFileFails) {
    platform.files = {};
    platform.typeLibraries = {};
    platform.registry = {};
    for (std::string_view component : kComponentTable) {
        platform.files[platform.Source(std::string(component))] = {FileVersion{1, 0, 0, 0}, ""};
    }
    // The server registers a path of its own choosing, and says it worked.
    platform.registersTo["TABCTL32.OCX"] = "C:\\elsewhere\\TABCTL32.OCX";
    platform.workerStarts = true;
    EXPECT_EQ(Run({"/S"}), 1);
    EXPECT_NE(platform.standardOutput.find("TABCTL32.OCX registered successfully.\r\n"), std::string::npos);
    EXPECT_NE(platform.standardOutput.find("Check after install:\r\n"
                                           "MSCOMCTL.OCX: ok, version 1.0.0.0\r\n"),
              std::string::npos);
    EXPECT_NE(platform.standardOutput.find(
                  "TABCTL32.OCX: registered to another file: C:\\elsewhere\\TABCTL32.OCX\r\n"
                  "    class {CLASS-TABCTL32.OCX}: C:\\elsewhere\\TABCTL32.OCX (which does not exist)\r\n"),
              std::string::npos);
    EXPECT_TRUE(platform.standardOutput.ends_with(
        "Files that failed to be registered:\r\n\r\n"
        "-   TABCTL32.OCX: registered to another file: C:\\elsewhere\\TABCTL32.OCX\r\n"));
}

TEST_F(CheckTest, ALoadFailureNamesTheDllMissingOrUnreadable) {
    platform.files = {};
    for (std::string_view component : kComponentTable) {
        platform.files[platform.Source(std::string(component))] = {FileVersion{1, 0, 0, 0}, ""};
    }
    platform.imports[platform.Installed("MSINET.OCX")] = {{true, "", {"TWABSENT.DLL"}, {}}};
    platform.programEnds["MSINET.OCX"] = {true, 3};
    platform.programEnds["RICHTX32.OCX"] = {true, 3};  // nothing missing: the code's own words
    // One whose DLL is there, but 64-bit; and one that is 64-bit itself.
    platform.imports[platform.Installed("TABCTL32.OCX")] = {{true, "", {"TWMIDDLE.DLL"}, {}}};
    UnreadableDll(sys + "TWMIDDLE.DLL", "a 64-bit file, which 32-bit programs cannot load", true);
    platform.programEnds["TABCTL32.OCX"] = {true, 3};
    platform.imports[platform.Installed("SCRRUN.DLL")] = {
        {false, "a 64-bit file, which 32-bit programs cannot load", {}, {}, true}};
    const std::string middle =
        "a DLL it needs is unreadable: C:\\WINDOWS\\system32\\TWMIDDLE.DLL (a 64-bit file, which 32-bit programs "
        "cannot load)\r\n";
    Run({"/S"});
    EXPECT_NE(platform.standardOutput.find(
                  "Error registering \"MSINET.OCX\": exit code 3, it needs TWABSENT.DLL, which was not found\r\n"),
              std::string::npos);
    EXPECT_NE(platform.standardOutput.find(
                  "Error registering \"RICHTX32.OCX\": exit code 3, the file could not be loaded\r\n"),
              std::string::npos);
    EXPECT_NE(platform.standardOutput.find("Error registering \"TABCTL32.OCX\": exit code 3, " + middle),
              std::string::npos);

    platform.workerStarts = true;
    platform.errorTexts[126] = "Module not found.";
    platform.workerVerdicts["MSINET.OCX"] = {WorkerVerdict::Kind::kNotLoaded, 126};
    platform.errorTexts[193] = "%1 is not a valid Win32 application.";
    platform.workerVerdicts["TABCTL32.OCX"] = {WorkerVerdict::Kind::kNotLoaded, 193};
    platform.workerVerdicts["SCRRUN.DLL"] = {WorkerVerdict::Kind::kNotLoaded, 193};
    platform.standardOutput.clear();
    Run({"/S"});
    EXPECT_NE(platform.standardOutput.find("Error registering \"MSINET.OCX\": the file could not be loaded, error "
                                           "126, it needs TWABSENT.DLL, which was not found\r\n"),
              std::string::npos);
    EXPECT_NE(platform.standardOutput.find(
                  "Error registering \"TABCTL32.OCX\": the file could not be loaded, error 193, " + middle),
              std::string::npos);
    EXPECT_NE(platform.standardOutput.find("Error registering \"SCRRUN.DLL\": the file could not be loaded, error "
                                           "193, SCRRUN.DLL is not a valid Win32 application.\r\n"),
              std::string::npos);
}

}  // namespace
}  // namespace tarnwick
