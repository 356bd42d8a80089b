# Checks the export and import tables of Quorvel.dll:
#   - module name Quorvel.dll, ordinal base 1;
#   - exactly three exports, undecorated, at ordinals 1, 2, 3;
#   - imports from KERNEL32.dll and msvcrt.dll only.
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${DLL}")
endif()

function(require pattern what)
  if(NOT dump MATCHES "${pattern}")
    message(FATAL_ERROR "PE check: ${what} (pattern: ${pattern})")
  endif()
endfunction()

require("Name[ \t]+[0-9a-f]+[ \t]+Quorvel\\.dll" "module name Quorvel.dll in the export table")
require("Ordinal Base[ \t]+1\n" "ordinal base 1")

# "[Ordinal/Name Pointer] Table" lines read "[  n] Name" for ordinal base + n;
# the export address lines ("+base[ k] ... Export RVA") count the entries.
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" from)
string(FIND "${dump}" "PE File Base Relocations" to)
math(EXPR length "${to} - ${from}")
string(SUBSTRING "${dump}" ${from} ${length} name_table)
string(REGEX MATCHALL "[ \t]\\[ *[0-9]+\\] [A-Za-z_0-9@]+\n" named "${name_table}")
set(names "")
foreach(entry IN LISTS named)
  string(STRIP "${entry}" entry)
  list(APPEND names "${entry}")
endforeach()
set(expected "[   0] Quorvel_GetLastError;[   1] Quorvel_TXT2XML;[   2] Quorvel_XML2TXT")
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "PE check: exports are\n  ${names}\nexpected\n  ${expected}")
endif()
string(REGEX MATCHALL "\\+base\\[ *[0-9]+\\] [0-9a-f]+ Export RVA" addresses "${dump}")
list(LENGTH addresses address_count)
if(NOT address_count EQUAL 3)
  message(FATAL_ERROR "PE check: ${address_count} export addresses, expected 3")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
list(TRANSFORM imports REPLACE "DLL Name: " "")
list(SORT imports CASE INSENSITIVE)
string(TOLOWER "${imports}" imports_lower)
if(NOT imports_lower STREQUAL "kernel32.dll;msvcrt.dll")
  message(FATAL_ERROR "PE check: imports are ${imports}, expected KERNEL32.dll and msvcrt.dll")
endif()
message(STATUS "PE tables of ${DLL}: exports ${names}; imports ${imports}")
