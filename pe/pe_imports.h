// The DLLs a Windows program or DLL imports, read from its bytes: the PE
// headers, the import table and the delayed-import table. Portable, like the
// version reader beside it, so that any file, however damaged or hostile, can
// be thrown at it in the host tests.
#pragma once

#include <string>
#include <vector>

#include "pe/byte_source.h"

namespace tarnwick {

// What a file's import tables say.
struct ImportTables {
    bool readable = false;  // a valid 32-bit PE file whose import tables could be read
    std::string why;        // without readable: what is wrong with it
    std::vector<std::string> imports;  // the DLLs it imports, in file order
    std::vector<std::string> delayed;  // the DLLs it imports on first use
    // Without readable: a program for another processor (64-bit, or not x86),
    // which the loader passes over while it searches for a DLL of that name.
    bool otherMachine = false;
};

// The import tables of a 32-bit (PE32, i386) file. Returns `readable` with
// the names in file order, or not, with `why` saying what is wrong: not a
// program, a program for another processor, or tables that are damaged or
// point outside the file. Reads a bounded amount whatever the file claims,
// and never outside it.
ImportTables ReadImportTables(ByteSource& source);

}  // namespace tarnwick
