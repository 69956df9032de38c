// The functions a Windows DLL exports by name, read from its bytes: the PE
// headers and the export table. Portable, like the readers beside it, so that
// any file, however damaged or hostile, can be thrown at it in the host tests.
#pragma once

#include <string>
#include <vector>

#include "pe/byte_source.h"

namespace tarnwick {

// What a file's export table says.
struct ExportTable {
    bool readable = false;  // a valid 32-bit PE file whose export table could be read
    std::string why;        // without readable: what is wrong with it
    // The name the file was built under, as the table records it; empty
    // when the table records none.
    std::string builtAs;
    // The names of its exported functions, in the table's order, which is
    // byte order: the loader finds a name by halving that table.
    std::vector<std::string> names;
};

// The export table of a 32-bit (PE32, i386) file. Returns `readable` with
// the names, or not, with `why` saying what is wrong: not a program, a
// program for another processor, or a table that is damaged, points outside
// the file or names a function that is not there. A file without an export
// table is readable and exports nothing. Reads a bounded amount whatever the
// file claims, and never outside it.
ExportTable ReadExportTable(ByteSource& source);

}  // namespace tarnwick
