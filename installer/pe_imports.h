// The DLLs a Windows program or DLL imports, read from its bytes: the PE
// headers, the import table and the delayed-import table. Portable, like the
// version reader beside it, so that any file, however damaged or hostile, can
// be thrown at it in the host tests.
#pragma once

#include "installer/pe_version.h"
#include "installer/platform_services.h"

namespace tarnwick {

// The import tables of a 32-bit (PE32, i386) file. Returns `readable` with
// the names in file order, or not, with `why` saying what is wrong: not a
// program, a program for another processor, or tables that are damaged or
// point outside the file. `result` is left kOk: the caller found the file.
// Reads a bounded amount whatever the file claims, and never outside it.
ImportQuery ReadImportTables(ByteSource& source);

}  // namespace tarnwick
