# Checks the command-line host the way a person uses it: exit codes, what
# goes to standard output and standard error, files written or not.
#   -DTOOL=path/to/quorvel[.exe]  -DEMULATOR="wine;..." (optional)
#   -DSOURCE_DIR=...  -DWORK=scratch folder
cmake_policy(SET CMP0007 NEW)
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

# Runs the tool; sets code, out, err (CR LF from a Windows console made LF).
macro(run)
  execute_process(COMMAND ${EMULATOR} "${TOOL}" ${ARGN}
                  WORKING_DIRECTORY "${WORK}"
                  RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REPLACE "\r\n" "\n" out "${out}")
  string(REPLACE "\r\n" "\n" err "${err}")
endmacro()

function(expect what actual expected)
  if(NOT "${actual}" STREQUAL "${expected}")
    message(SEND_ERROR "${what}:\n  got      [${actual}]\n  expected [${expected}]")
  endif()
endfunction()

# The bytes of a file as hex (file(READ) in text form drops CR bytes).
function(read_bytes path var)
  file(READ "${path}" hex HEX)
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

function(expect_contains what text part)
  string(FIND "${text}" "${part}" at)
  if(at EQUAL -1)
    message(SEND_ERROR "${what}: [${text}] lacks [${part}]")
  endif()
endfunction()

run(--help)
expect("--help exit" "${code}" 0)
expect_contains("--help" "${out}" "quorvel txt2xml INPUT OUTPUT [--type CODE] [--nsr TEXT] [--qymc TEXT]")
expect_contains("--help" "${out}" "quorvel xml2txt INPUT OUTPUT")
expect_contains("--help" "${out}" "Exit status: 0 converted; 1 failed")

run(--version)
expect("--version" "${code}:${out}" "0:quorvel ${VERSION}\n")

foreach(args IN ITEMS "" "frob" "txt2xml;a" "txt2xml;a;b;--type;x" "txt2xml;a;b;--type"
                      "txt2xml;a;b;--bogus;1" "xml2txt;a" "xml2txt;a;b;c")
  run(${args})
  expect("usage exit for [${args}]" "${code}" 64)
  expect_contains("usage text for [${args}]" "${err}" "usage: quorvel txt2xml")
endforeach()

run(xml2txt missing.xml out.txt)
expect("missing input" "${code}:${err}" "1:quorvel: Cannot open file missing.xml\n")
run(txt2xml missing.txt out.xml)
expect("missing input" "${code}:${err}" "1:quorvel: Cannot open file missing.txt\n")
if(EXISTS "${WORK}/out.txt" OR EXISTS "${WORK}/out.xml")
  message(SEND_ERROR "a failed conversion wrote an output file")
endif()

run(txt2xml "${SOURCE_DIR}/samples/invoices.txt" doc.xml --type 102 --nsr N1 --qymc Q1)
expect("txt2xml sample" "${code}:${out}" "0:wrote doc.xml\n")
read_bytes("${WORK}/doc.xml" doc)
expect_bytes("txt2xml sample" "${doc}" "  <code>RZ00102</code>\r\n")
expect_bytes("txt2xml sample" "${doc}" "  <nsr>N1</nsr>\r\n  <qymc>Q1</qymc>\r\n")
expect_bytes("txt2xml sample" "${doc}" "  <rows>4</rows>\r\n")

run(xml2txt "${SOURCE_DIR}/samples/returned.xml" back.txt)
expect("xml2txt sample" "${code}:${out}" "0:rows: 4\nnsr: 913101157178123456\nwrote back.txt\n")
file(READ "${WORK}/back.txt" back HEX)
file(READ "${SOURCE_DIR}/tests/data/samples_returned.txt" expected HEX)
expect("xml2txt sample output" "${back}" "${expected}")

file(WRITE "${WORK}/incomplete.xml" "<nsr>N</nsr>\n<rows>1</rows>\n<data>\n<row>\n<dm>1</dm>\n</row>\n")
file(WRITE "${WORK}/keep.txt" "previous")
run(xml2txt incomplete.xml keep.txt)
expect("incomplete rows" "${code}:${out}" "2:rows: 1\nnsr: N\n")
expect("incomplete rows" "${err}"
       "quorvel: some rows lack one of their eleven values (dm, hm, gf, xf, kr, je, se, mw, sy, jg, rq); no output file was written\n")
file(READ "${WORK}/keep.txt" kept)
expect("incomplete rows keep the output" "${kept}" "previous")

# Arguments reach the library as bytes: GBK in a path and in a value. (A
# Windows console program gets its arguments through the ANSI code page,
# so this runs natively only.)
if(NOT EMULATOR)
  string(ASCII 196 207 190 169 gbk)
  file(WRITE "${WORK}/in${gbk}.txt" "a\tb\n")
  run(txt2xml "in${gbk}.txt" "out${gbk}.xml" --nsr "${gbk}" --qymc "q${gbk}")
  expect("GBK arguments" "${code}" 0)
  read_bytes("${WORK}/out${gbk}.xml" doc)
  expect_bytes("GBK arguments" "${doc}" "  <nsr>${gbk}</nsr>\r\n  <qymc>q${gbk}</qymc>\r\n")
endif()

