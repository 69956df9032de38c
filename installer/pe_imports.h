// The DLLs a Windows program or DLL imports, read from its bytes: the PE
// headers and the names in its import and delayed-import tables. Portable,
// beside the version reader and under the same rules, so that any file,
// however damaged or hostile, can be thrown at it in the host tests.
#pragma once

#include <string>
#include <vector>

#include "installer/pe_image.h"

namespace tarnwick {

struct ImportTables {
    enum class Status {
        kRead,        // the tables were read to their ends
        kNotPe,       // not a Windows program or DLL
        kUnreadable,  // a read failed, or the headers or tables are damaged
    };
    Status status = Status::kNotPe;
    std::string why;                    // with kUnreadable: what is wrong, for a person
    bool i386 = false;                  // built for 32-bit x86
    std::vector<std::string> dlls;      // imported, as the file names them, in file order
    std::vector<std::string> delayed;   // imported on first use only
};

// Reads only the headers, the section table and the two tables' names: a few
// KiB whatever the file's size, never outside the file, and at most
// kMaxImportedDlls names of kMaxDllName bytes from each table.
ImportTables ReadImportTables(ByteSource& source);

inline constexpr std::size_t kMaxImportedDlls = 1024;
inline constexpr std::size_t kMaxDllName = 256;

}  // namespace tarnwick
