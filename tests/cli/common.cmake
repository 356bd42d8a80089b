# Helpers for the checks of the command-line host, run the way a person uses
# it: exit codes, what goes to standard output and standard error, files
# written or left alone, compared byte for byte.
#   -DTOOL=path/to/quorvel[.exe]  -DEMULATOR="wine;..." (empty natively)
#   -DSOURCE_DIR=...  -DWORK=scratch folder  -DVERSION=x.y.z
#   -DSANITIZE=ON when the tool is built with the sanitizers
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
# The tool's own temporary files go here (natively), so that a check can tell
# that none is left behind. Under Wine, which sets TEMP itself, they go to the
# prefix's folder for temporary files, which the checks of the host share
# (tests/CMakeLists.txt keeps them from running at the same time): what is
# there at the start is not counted.
set(TEMP_DIR "${WORK}/tmp")
file(MAKE_DIRECTORY "${TEMP_DIR}")
set(TEMP_GLOB "${TEMP_DIR}/*")
foreach(word IN LISTS EMULATOR)
  if(word MATCHES "^WINEPREFIX=(.+)$")
    set(TEMP_GLOB "${CMAKE_MATCH_1}/drive_c/users/*/Temp/quorvel-*.tmp")
  endif()
endforeach()
file(GLOB TEMPORARIES_BEFORE "${TEMP_GLOB}")
set(SAMPLES "${SOURCE_DIR}/samples")
set(DATA "${SOURCE_DIR}/tests/data")

# tool([STDIN file] [STDOUT file] [DIR folder] [LOCALE name] [ENV var=value...]
# ARGS arguments...) runs the tool and sets `code`, `out` and `err` (CR LF
# from a Windows console made LF). With STDOUT, standard output goes to that
# file and `out` is empty. The locale is C.UTF-8 unless LOCALE says (Wine
# turns the arguments into UTF-16 by it).
function(tool)
  cmake_parse_arguments(PARSE_ARGV 0 T "" "STDIN;STDOUT;DIR;LOCALE" "ARGS;ENV")
  if(NOT T_LOCALE)
    set(T_LOCALE C.UTF-8)
  endif()
  set(redirect)
  if(T_STDIN)
    list(APPEND redirect INPUT_FILE "${T_STDIN}")
  endif()
  if(T_STDOUT)
    list(APPEND redirect OUTPUT_FILE "${T_STDOUT}")
  else()
    list(APPEND redirect OUTPUT_VARIABLE out)
  endif()
  if(NOT T_DIR)
    set(T_DIR "${WORK}")
  endif()
  # (Not TMPDIR under Wine: it would look there for its server.)
  set(temp "TMPDIR=${TEMP_DIR}")
  if(EMULATOR)
    set(temp)
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=SOURCE_DATE_EPOCH LC_ALL=${T_LOCALE} ${temp} ${T_ENV}
                          ${EMULATOR} "${TOOL}" ${T_ARGS}
                  WORKING_DIRECTORY "${T_DIR}" RESULT_VARIABLE code ERROR_VARIABLE err
                  ${redirect})
  string(REPLACE "\r\n" "\n" out "${out}")
  string(REPLACE "\r\n" "\n" err "${err}")
  set(code "${code}" PARENT_SCOPE)
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

# run(arguments...): tool() with nothing redirected.
macro(run)
  tool(ARGS ${ARGN})
endmacro()

function(expect what actual expected)
  if(NOT "${actual}" STREQUAL "${expected}")
    message(SEND_ERROR "${what}:\n  got      [${actual}]\n  expected [${expected}]")
  endif()
endfunction()

function(expect_contains what text part)
  string(FIND "${text}" "${part}" at)
  if(at EQUAL -1)
    message(SEND_ERROR "${what}: [${text}] lacks [${part}]")
  endif()
endfunction()

# The bytes of a file as hex (file(READ) in text form drops CR bytes), with
# the date a document was made (its scrq value) blanked, so that documents
# made a moment apart compare equal.
function(read_bytes path var)
  file(READ "${path}" hex HEX)
  string(HEX "<scrq>" open)
  string(HEX "</scrq>" close)
  string(REGEX REPLACE "${open}(3[0-9])+${close}" "${open}${close}" hex "${hex}")
  set(${var} "${hex}" PARENT_SCOPE)
endfunction()

# `part` occurs in a file read by read_bytes, at a byte boundary.
function(expect_bytes what hex part)
  string(HEX "${part}" part_hex)
  string(FIND "${hex}" "${part_hex}" at)
  math(EXPR odd "${at} % 2")
  if(at EQUAL -1 OR odd)
    message(SEND_ERROR "${what}: the file lacks [${part}]")
  endif()
endfunction()

# Two files hold the same bytes (a document's date aside).
function(expect_same_file what actual expected)
  read_bytes("${actual}" actual_hex)
  read_bytes("${expected}" expected_hex)
  if(NOT actual_hex STREQUAL expected_hex)
    message(SEND_ERROR "${what}: ${actual} differs from ${expected}")
  endif()
endfunction()

# A file still holds exactly `content` (a failed conversion left it alone).
function(expect_kept what path content)
  file(READ "${path}" kept)
  expect("${what}: the existing output" "${kept}" "${content}")
endfunction()

# The tool left no temporary file behind.
function(expect_no_temporaries what)
  file(GLOB left "${TEMP_GLOB}")
  if(TEMPORARIES_BEFORE)
    list(REMOVE_ITEM left ${TEMPORARIES_BEFORE})
  endif()
  expect("${what}: temporary files left" "${left}" "")
endfunction()

# Writes a returned document of `rows` complete rows (about 250 bytes each,
# 100 as text) to `path`.
function(write_document path rows)
  string(CONCAT row "  <row id=\"1\">\n   <dm>3100224130</dm>\n   <hm>01234567</hm>\n"
         "   <gf>913101157178123456</gf>\n   <xf>X</xf>\n   <kr>20261102</kr>\n"
         "   <je>12800.00</je>\n   <se>1664.00</se>\n   <mw>M</mw>\n"
         "   <sy>00000000000000FF</sy>\n   <jg>0000</jg>\n   <rq>20261205</rq>\n  </row>\n")
  string(REPEAT "${row}" ${rows} all)
  file(WRITE "${path}" "<nsr>N</nsr>\n<rows>${rows}</rows>\n<data>\n${all}")
endfunction()

# The sample company's name: "上海明远电子科技有限公司" in UTF-8 and GBK.
set(QYMC_UTF8 "上海明远电子科技有限公司")
string(ASCII 201 207 186 163 195 247 212 182 181 231 215 211 191 198 188 188 211 208 207 222
             185 171 203 190 QYMC_GBK)
set(NSR 913101157178123456)

# A table row "ARGS|EXPECTED" (ARGS separated by ";", "\\n" for a line break
# in EXPECTED): the arguments into `args`, what is expected into `expected`.
function(split_case row)
  string(REPLACE "|" ";" row "${row}")
  list(POP_BACK row expected)
  string(REPLACE "\\n" "\n" expected "${expected}")
  set(args "${row}" PARENT_SCOPE)
  set(expected "${expected}" PARENT_SCOPE)
endfunction()
