// GetFileVersion on real files under Wine: files in use, held without
// sharing, damaged, very large, and deeper than MAX_PATH.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "platform/windows/handles.h"
#include "platform/windows/unicode.h"
#include "platform/windows/windows_platform.h"
#include "scratch.h"

namespace tarnwick::win {
namespace {

const FileVersion kFixtureVersion{1, 2, 3, 4};

using namespace scratch;

class FileVersionTest : public ScratchTest {
protected:
    FileVersionTest() : ScratchTest(L"tarnwick-version-") {}

    FileVersionQuery Query(const std::wstring& path) { return platform_.GetFileVersion(Narrow(path)); }

    // A copy of the versioned fixture at `path`, open for writing.
    UniqueHandle CopyFixture(const std::wstring& path) {
        EXPECT_TRUE(::CopyFileW(Fixture(L"VERSIONED.DLL").c_str(), path.c_str(), FALSE));
        return FileHandle(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    }

    WindowsPlatform platform_;
};

TEST_F(FileVersionTest, ReadsAFileThatIsLoadedAndInUse) {
    const UniqueModule loaded(::LoadLibraryW(Fixture(L"VERSIONED.DLL").c_str()));
    ASSERT_TRUE(loaded);
    const FileVersionQuery query = Query(Fixture(L"VERSIONED.DLL"));
    EXPECT_EQ(query.result, FileResult::kOk);
    EXPECT_EQ(query.version, kFixtureVersion);

    // Another reader that lets others read is no obstacle either.
    const UniqueHandle reader = FileHandle(::CreateFileW(Fixture(L"UNVERSIONED.DLL").c_str(), GENERIC_READ,
                                                         FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(reader);
    const FileVersionQuery plain = Query(Fixture(L"UNVERSIONED.DLL"));
    EXPECT_EQ(plain.result, FileResult::kOk);
    EXPECT_FALSE(plain.version.has_value());
}

TEST_F(FileVersionTest, AFileHeldOpenOrBeingWrittenIsInUse) {
    const std::wstring path = root_ + L"\\HELD.OCX";
    {
        const UniqueHandle held = CopyFixture(path);  // no sharing at all
        ASSERT_TRUE(held);
        const FileVersionQuery query = Query(path);
        EXPECT_EQ(query.result, FileResult::kPermissionDenied);
        EXPECT_FALSE(query.version.has_value());
    }
    const UniqueHandle writer = FileHandle(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                                         nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer);
    EXPECT_EQ(Query(path).result, FileResult::kPermissionDenied);
}

TEST_F(FileVersionTest, ADamagedProgramOrAFolderCannotBeRead) {
    const std::wstring path = root_ + L"\\CUT.OCX";
    {
        const UniqueHandle file = CopyFixture(path);
        ASSERT_TRUE(file);
        LARGE_INTEGER size;
        ASSERT_TRUE(::GetFileSizeEx(file.get(), &size));
        Resize(file.get(), size.QuadPart / 2);
    }
    EXPECT_EQ(Query(path).result, FileResult::kAccessError);
    EXPECT_EQ(Query(root_).result, FileResult::kAccessError);
}

TEST_F(FileVersionTest, ReadsA600MegabyteFile) {
    const std::wstring path = root_ + L"\\LARGE.OCX";
    {
        const UniqueHandle file = CopyFixture(path);
        ASSERT_TRUE(file);
        Resize(file.get(), 600LL << 20);
    }
    const FileVersionQuery query = Query(path);
    EXPECT_EQ(query.result, FileResult::kOk);
    EXPECT_EQ(query.version, kFixtureVersion);
}

TEST_F(FileVersionTest, ReadsAFileDeeperThanMaxPath) {
    std::wstring folder = L"\\\\?\\" + root_;
    while (folder.size() < 320) {
        folder += L"\\a-folder-name-of-forty-characters-------";
        ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    }
    ASSERT_TRUE(::CopyFileW(Fixture(L"VERSIONED.DLL").c_str(), (folder + L"\\DEEP.OCX").c_str(), FALSE));
    const std::wstring plain = folder.substr(4) + L"\\DEEP.OCX";  // as the program builds it
    ASSERT_GT(plain.size(), 300u);
    const FileVersionQuery query = Query(plain);
    EXPECT_EQ(query.result, FileResult::kOk);
    EXPECT_EQ(query.version, kFixtureVersion);
    EXPECT_EQ(Query(folder.substr(4) + L"\\NONE.OCX").result, FileResult::kFileNotFound);
}

}  // namespace
}  // namespace tarnwick::win
