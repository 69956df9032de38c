// Reading what is installed, for the check: the Windows directory and the
// environment, which file a path names, the classes' registry values, and
// type libraries loaded as data. Nothing here writes anything.
#include "platform/windows/windows_platform.h"

#include <oleauto.h>

#include "platform/windows/dll_search.h"
#include "platform/windows/unicode.h"

namespace tarnwick::win {
namespace {

// The longest registry string read, with its NUL: no path is longer, so a
// longer value is nothing the check could use, and is refused as kNotString
// rather than cut.
constexpr DWORD kMaxValueLength = 32768;

// The root and the subkey that `key` is under `hive`, as this 32-bit program
// sees it. No KEY_WOW64_* flag: the 32-bit view is the one COM in this
// process uses.
HKEY ClassesKeyPath(ClassesHive hive, const std::string& key, std::wstring& subkey) {
    if (hive == ClassesHive::kClassesRoot) {
        subkey = Widen(key);
        return HKEY_CLASSES_ROOT;
    }
    subkey = key.empty() ? std::wstring(L"Software\\Classes") : L"Software\\Classes\\" + Widen(key);
    return HKEY_CURRENT_USER;
}

UniqueKey OpenClassesKey(ClassesHive hive, const std::string& key, REGSAM access) {
    std::wstring subkey;
    const HKEY root = ClassesKeyPath(hive, key, subkey);
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(root, subkey.c_str(), 0, access, &opened) != ERROR_SUCCESS) return nullptr;
    return UniqueKey(opened);
}

// Holds one COM interface pointer and releases it.
template <typename Interface>
class ComRef {
public:
    ComRef() = default;
    ~ComRef() {
        if (pointer_) pointer_->Release();
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    Interface* operator->() const { return pointer_; }
    Interface** out() { return &pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

private:
    Interface* pointer_ = nullptr;
};

std::string GuidText(const GUID& guid) {
    wchar_t text[40];  // {8-4-4-4-12}, upper case, and a NUL: 39
    const int length = ::StringFromGUID2(guid, text, 40);
    return length > 0 ? Narrow(std::wstring_view(text, static_cast<std::size_t>(length - 1))) : std::string();
}

// LoadTypeLibEx, as found in oleaut32.dll.
using LoadTypeLibExFunction = HRESULT(WINAPI*)(LPCOLESTR, REGKIND, ITypeLib**);

// Whether `path` is a full path (C:\... or \\server\...): the type library
// loader would search the current and the program's folders for any other.
bool IsFullPath(const std::string& path) {
    return (path.size() >= 3 && path[1] == ':' && path[2] == '\\') || path.starts_with("\\\\");
}

}  // namespace

std::string WindowsPlatform::WindowsDirectory() {
    // GetWindowsDirectoryW, not GetSystemWindowsDirectoryW: the DLL search
    // order's "Windows directory" is the one this function reports (on a
    // terminal server, a program not marked as aware of it gets a folder of
    // its user's, and its DLL searches look there).
    return Narrow(QueryString([](wchar_t* buffer, DWORD size) {
        const UINT length = ::GetWindowsDirectoryW(buffer, size);
        return length > size ? size : length;
    }));
}

std::string WindowsPlatform::EnvironmentVariable(const std::string& name) {
    const std::wstring wide = Widen(name);
    return Narrow(QueryString([&wide](wchar_t* buffer, DWORD size) {
        // Returns the size needed, with its NUL, when the buffer is too small.
        return ::GetEnvironmentVariableW(wide.c_str(), buffer, size);
    }));
}

FileIdentity WindowsPlatform::IdentifyFile(const std::string& path) {
    const std::wstring file = FileSystemPath(path);
    const auto missingOr = [](DWORD error) {
        const FileResult result = FileResultFromError(error);
        const bool missing = result == FileResult::kFileNotFound || result == FileResult::kPathNotFound ||
                             error == ERROR_INVALID_NAME;
        return FileIdentity{missing ? FileIdentity::Kind::kMissing : FileIdentity::Kind::kUnreadable, 0, 0};
    };
    const DWORD attributes = ::GetFileAttributesW(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return missingOr(::GetLastError());
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return {FileIdentity::Kind::kFolder, 0, 0};
    // No right to its data, and every kind of sharing: a file another program
    // holds open, even without sharing, can still be told apart.
    const UniqueHandle handle =
        FileHandle(::CreateFileW(file.c_str(), FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) return missingOr(::GetLastError());
    BY_HANDLE_FILE_INFORMATION information;
    if (!::GetFileInformationByHandle(handle.get(), &information)) return missingOr(::GetLastError());
    return {FileIdentity::Kind::kFile, information.dwVolumeSerialNumber,
            (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
}

RegistryString WindowsPlatform::ReadClassesValue(ClassesHive hive, const std::string& key) {
    // A key that cannot be opened for any reason has nothing to tell.
    const UniqueKey opened = OpenClassesKey(hive, key, KEY_QUERY_VALUE);
    if (!opened) return {};
    std::wstring value(MAX_PATH, L'\0');
    DWORD type = REG_NONE;
    DWORD bytes = 0;
    // The value may grow between the calls: asked again with its new size.
    for (;;) {
        bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
        const LONG status =
            ::RegQueryValueExW(opened.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &bytes);
        if (status == ERROR_SUCCESS) break;
        if (status != ERROR_MORE_DATA) return {};
        if (type != REG_SZ && type != REG_EXPAND_SZ) return {RegistryString::Kind::kNotString, {}};
        if (bytes > kMaxValueLength * sizeof(wchar_t)) return {RegistryString::Kind::kNotString, {}};
        value.resize(bytes / sizeof(wchar_t) + 1);
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) return {RegistryString::Kind::kNotString, {}};
    // The data need not end with a NUL (nor be whole characters); it ends at
    // the first NUL, as its readers take it.
    value.resize(bytes / sizeof(wchar_t));
    value.resize(value.find(L'\0') == std::wstring::npos ? value.size() : value.find(L'\0'));
    if (type == REG_EXPAND_SZ) {
        std::wstring expanded(value.size() + MAX_PATH, L'\0');
        for (;;) {
            // Returns the size needed with its NUL, whether or not it fitted.
            const DWORD needed =
                ::ExpandEnvironmentStringsW(value.c_str(), expanded.data(), static_cast<DWORD>(expanded.size()));
            if (needed == 0 || needed > kMaxValueLength) return {RegistryString::Kind::kNotString, {}};
            if (needed <= expanded.size()) {
                expanded.resize(needed - 1);
                break;
            }
            expanded.resize(needed);
        }
        value = std::move(expanded);
    }
    return {RegistryString::Kind::kString, Narrow(value)};
}

std::vector<std::string> WindowsPlatform::ClassesSubkeys(ClassesHive hive, const std::string& key) {
    std::vector<std::string> names;
    const UniqueKey opened = OpenClassesKey(hive, key, KEY_ENUMERATE_SUB_KEYS);
    if (!opened) return names;
    // A key's name has at most 255 characters: one buffer serves them all.
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (::RegEnumKeyExW(opened.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;  // ERROR_NO_MORE_ITEMS at the end
        }
        names.push_back(Narrow(std::wstring_view(name, length)));
    }
    return names;
}

TypeLibraryQuery WindowsPlatform::ReadTypeLibrary(const std::string& path) {
    TypeLibraryQuery query;
    if (!IsFullPath(path)) {
        query.error = static_cast<std::uint32_t>(E_INVALIDARG);
        return query;
    }
    if (!oleautLoaded_) {
        oleaut_.reset(LoadSystemDll(L"oleaut32.dll"));
        oleautLoaded_ = true;
    }
    const auto load = Lookup<LoadTypeLibExFunction>(oleaut_.get(), "LoadTypeLibEx");
    if (!load) {
        query.error = static_cast<std::uint32_t>(TYPE_E_CANTLOADLIBRARY);
        return query;
    }
    // REGKIND_NONE: nothing is registered, and the file is read as data.
    ComRef<ITypeLib> library;
    HRESULT result = load(FileSystemPath(path).c_str(), REGKIND_NONE, library.out());
    if (SUCCEEDED(result) && !library) result = TYPE_E_CANTLOADLIBRARY;
    if (FAILED(result)) {
        query.error = static_cast<std::uint32_t>(result);
        return query;
    }
    TLIBATTR* attributes = nullptr;
    result = library->GetLibAttr(&attributes);
    if (FAILED(result) || !attributes) {
        query.error = static_cast<std::uint32_t>(FAILED(result) ? result : E_FAIL);
        return query;
    }
    // Copied out and released before anything that could throw.
    const GUID libid = attributes->guid;
    query.major = attributes->wMajorVerNum;
    query.minor = attributes->wMinorVerNum;
    query.lcid = attributes->lcid;
    library->ReleaseTLibAttr(attributes);
    query.libid = GuidText(libid);

    const UINT count = library->GetTypeInfoCount();
    for (UINT index = 0; index < count; ++index) {
        TYPEKIND kind;
        if (FAILED(library->GetTypeInfoType(index, &kind)) || kind != TKIND_COCLASS) continue;
        // A coclass that cannot be read fails the whole: a list with a gap
        // would pass a class off as not described.
        ComRef<ITypeInfo> info;
        result = library->GetTypeInfo(index, info.out());
        TYPEATTR* type = nullptr;
        if (SUCCEEDED(result) && info) result = info->GetTypeAttr(&type);
        if (FAILED(result) || !type) {
            TypeLibraryQuery failed;
            failed.error = static_cast<std::uint32_t>(FAILED(result) ? result : E_FAIL);
            return failed;
        }
        const GUID clsid = type->guid;
        const bool creatable = (type->wTypeFlags & TYPEFLAG_FCANCREATE) != 0;
        info->ReleaseTypeAttr(type);
        query.classes.push_back({GuidText(clsid), creatable});
    }
    query.loaded = true;
    return query;
}

}  // namespace tarnwick::win
