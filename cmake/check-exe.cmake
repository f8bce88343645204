# cmake -DEXE=... -DOBJDUMP=... -DMACHINE=PE32|PE32+ -P check-exe.cmake
# What a user copies to a Windows machine: a console program of the right
# kind, under 64 KiB, importing nothing but KERNEL32.dll and msvcrt.dll,
# with the version resource that Explorer shows.
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE headers COMMAND_ERROR_IS_FATAL ANY)

string(REGEX MATCH "Magic[\t ]+[0-9a-f]+[\t ]+\\(([A-Z0-9+]+)\\)" _ "${headers}")
if(NOT CMAKE_MATCH_1 STREQUAL MACHINE)
  message(FATAL_ERROR "expected ${MACHINE}, found '${CMAKE_MATCH_1}'")
endif()
if(NOT headers MATCHES "Subsystem[\t ]+00000003")
  message(FATAL_ERROR "not a console program")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" dlls "${headers}")
if(NOT dlls STREQUAL "DLL Name: KERNEL32.dll;DLL Name: msvcrt.dll")
  message(FATAL_ERROR "imports: ${dlls}")
endif()

file(SIZE ${EXE} size)
if(size GREATER_EQUAL 65536)
  message(FATAL_ERROR "${size} bytes, 64 KiB or more")
endif()

# Resource strings are UTF-16LE.
file(READ ${EXE} bytes HEX)
foreach(text "FileVersion" "1.0.0.0" "ProductVersion" "1.00" "ProductName" "Kestrane"
             "OriginalFilename" "Kestrn.exe" "FileDescription")
  string(HEX "${text}" hex)
  string(REGEX REPLACE "(..)" "\\100" wide "${hex}")
  string(FIND "${bytes}" "${wide}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "no \"${text}\" in the version resource")
  endif()
endforeach()
message(STATUS "${EXE}: ${MACHINE} console program, ${size} bytes, imports ${dlls}")
