# Lists the functions a PE32 program imports on first use (delay-loaded), as
# dll!name, or dll!#n for one imported by ordinal. objdump does not show
# them, and MinGW's linker leaves the header's delay-import entry empty, so
# the descriptors are found where the linker puts them, in the code section:
# each is attributes 1 (its addresses are RVAs), then the RVAs of the DLL's
# name, its module handle, its address table and its name table.
# Input: the file's bytes, as `od -An -v -tu1` prints them.
{ for (i = 1; i <= NF; ++i) byte[size++] = $i }

function u16(at) { return byte[at] + 256 * byte[at + 1] }
function u32(at) { return u16(at) + 65536 * u16(at + 2) }
# The file offset of an RVA, or -1 where no section holds it.
function offset(rva,   s) {
  for (s = 0; s < sections; ++s) {
    if (rva >= address[s] && rva < address[s] + length_[s]) return rva - address[s] + start[s]
  }
  return -1
}
function text(at,   t) {
  t = ""
  while (at >= 0 && at < size && byte[at] != 0 && length(t) < 256) t = t sprintf("%c", byte[at++])
  return t
}

END {
  pe = u32(60)
  sections = u16(pe + 6)
  table = pe + 24 + u16(pe + 20)
  for (s = 0; s < sections; ++s) {
    header = table + 40 * s
    address[s] = u32(header + 12); length_[s] = u32(header + 16); start[s] = u32(header + 20)
    if (text(header) == ".text") { code = start[s]; codeEnd = start[s] + length_[s] }
  }
  for (at = code; at + 32 <= codeEnd; at += 4) {
    if (u32(at) != 1) continue
    dll = tolower(text(offset(u32(at + 4))))
    names = offset(u32(at + 16))
    if (dll !~ /^[a-z0-9_]+\.dll$/ || names < 0) continue
    for (entry = names; entry >= 0 && entry + 4 <= size && u32(entry) != 0; entry += 4) {
      thunk = u32(entry)
      if (thunk >= 2147483648) print dll "!#" (thunk - 2147483648)
      else print dll "!" text(offset(thunk) + 2)
    }
  }
}
