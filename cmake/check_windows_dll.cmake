# Checks a built iffjpeg.dll with objdump -p: its export table must hold
# exactly the six entry points under their plain names (a 32-bit build must
# not decorate them, e.g. "_IFFOpen" or "IFFOpen@12"), and it may import only
# from Windows system DLLs: no runtime library of the compiler
# (libgcc_s_*.dll, libstdc++-6.dll, libwinpthread-1.dll) may remain.
#
#   cmake -DOBJDUMP=x86_64-w64-mingw32-objdump -DDLL=build/win64/iffjpeg.dll \
#         -P cmake/check_windows_dll.cmake
if(NOT OBJDUMP OR NOT DLL)
  message(FATAL_ERROR "usage: cmake -DOBJDUMP=... -DDLL=... -P check_windows_dll.cmake")
endif()
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed (${rc})")
endif()

set(expected IFFClose IFFControl IFFGetLine IFFOpen IFFPutLine IFFSeek)
set(system_dll "^(KERNEL32|msvcrt|ucrtbase|api-ms-win-[A-Za-z0-9-]+)\\.dll$")

string(REPLACE "\n" ";" lines "${dump}")
set(exports)
set(imports)
set(format "")
set(in_names FALSE)
foreach(line IN LISTS lines)
  if(line MATCHES "file format ([^ \t]+)")
    set(format ${CMAKE_MATCH_1})
  elseif(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
    set(in_names TRUE)
  elseif(in_names AND line MATCHES "^[ \t]*\\[ *[0-9]+\\] (.+)$")
    list(APPEND exports ${CMAKE_MATCH_1})
  elseif(in_names)
    set(in_names FALSE)
  endif()
  if(line MATCHES "DLL Name: (.+)$")
    list(APPEND imports ${CMAKE_MATCH_1})
  endif()
endforeach()

list(SORT exports)
set(failed FALSE)
if(NOT exports STREQUAL expected)
  message(SEND_ERROR "${DLL}: exports are [${exports}], expected [${expected}]")
  set(failed TRUE)
endif()
if(NOT imports)
  message(SEND_ERROR "${DLL}: no import table found")
  set(failed TRUE)
endif()
foreach(dll IN LISTS imports)
  if(NOT dll MATCHES "${system_dll}")
    message(SEND_ERROR "${DLL}: imports ${dll}, which is not a Windows system DLL")
    set(failed TRUE)
  endif()
endforeach()
if(NOT failed)
  message(STATUS "${DLL} (${format}): exports [${exports}], imports [${imports}]")
endif()
