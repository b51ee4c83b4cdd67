# Reads the DLL's export list and writes what the build makes of it, in one
# place: run by the build whenever the list changes.
#   cmake -DLIST=resources/velquor.def -DOUT=folder [-DX64=1] -P cmake/exports.cmake
# The 32-bit DLL exports the decorated names; the 64-bit one, whose calling
# convention decorates nothing, the plain names (QRVTS_OpenServer), and its
# definitions list those for the linker and for both import libraries.
# exports.txt   the decorated names the DLL must export, one a line
# mingw.def     for the mingw import library: the plain stdcall name of
#               each function imports its decorated export
# msvc.def      for the MSVC import library (llvm-dlltool): an import of the
#               decorated name (the tool takes one leading underscore off
#               the name it imports), and the plain stdcall name as its alias
file(STRINGS ${LIST} lines REGEX "^_[A-Za-z0-9_]+@[0-9]+ = ")
set(names "")
set(mingw "LIBRARY velquor.dll\nEXPORTS\n")
set(msvc "${mingw}")
foreach(line ${lines})
  string(REGEX REPLACE " = .*$" "" decorated "${line}")
  string(SUBSTRING "${decorated}" 1 -1 plain)
  if(X64)
    string(REGEX REPLACE "@[0-9]+$" "" plain "${plain}")
    string(APPEND names "${plain}\n")
    string(APPEND mingw "${plain}\n")
    string(APPEND msvc "${plain}\n")
  else()
    string(APPEND names "${decorated}\n")
    string(APPEND mingw "${plain} == ${decorated}\n")
    string(APPEND msvc "${decorated}\n${plain} == ${decorated}\n")
  endif()
endforeach()
file(WRITE ${OUT}/exports.txt "${names}")
file(WRITE ${OUT}/mingw.def "${mingw}")
file(WRITE ${OUT}/msvc.def "${msvc}")
