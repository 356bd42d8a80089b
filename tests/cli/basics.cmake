# The command line's frame: help, version, usage, the manual, exit codes, the
# two conversions on the samples, and quorvel.exe standing alone.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)

run(--help)
expect("--help exit" "${code}" 0)
foreach(line IN ITEMS
        "usage: quorvel txt2xml INPUT OUTPUT [--type CODE] [--nsr TEXT] [--qymc TEXT]"
        "       quorvel check FILE... [options of txt2xml]"
        "  dm  invoice code          hm  invoice number"
        "Exit status: 0 converted (check: would convert cleanly); 1 failed, nothing")
  expect_contains("--help" "${out}" "${line}")
endforeach()
set(help "${out}")
foreach(option IN ITEMS -h "txt2xml;a;--help")
  run(${option})
  expect("${option}" "${code}:${out}" "0:${help}")
endforeach()

foreach(option IN ITEMS --version -V)
  run(${option})
  expect("${option}" "${code}:${out}" "0:quorvel ${VERSION}\nlibrary ${VERSION} (linked in)\n")
endforeach()

# Wrong usage: GNU's words for what is wrong, where help is, exit 64; the
# files named are not touched.
file(WRITE "${WORK}/a" "previous")
foreach(case IN ITEMS
        "|missing command"
    "frob|unknown command 'frob'"
    "txt2xml;a|txt2xml: missing OUTPUT"
    "xml2txt;a;b;c|xml2txt: extra operand 'c'"
    "check|check: missing FILE"
    "txt2xml;a;b;--bogus|unrecognized option '--bogus'"
    "txt2xml;a;b;-x|invalid option -- 'x'"
    "txt2xml;a;b;--type|option '--type' requires an argument"
    "txt2xml;a;b;--type;abc|invalid argument 'abc' for '--type'"
    "txt2xml;a;b;--encoding;gb18030|invalid argument 'gb18030' for '--encoding'"
    "txt2xml;a;b;--date;2026-02-30|invalid argument '2026-02-30' for '--date'"
    "txt2xml;a;b;--quiet=1|option '--quiet' doesn't allow an argument"
    "xml2txt;b;a;--nsr;x|option '--nsr' does not apply to xml2txt")
  string(REPLACE "|" ";" case "${case}")
  list(POP_BACK case error)
  run(${case})
  expect("usage [${case}]" "${code}:${out}:${err}"
         "64::quorvel: ${error}\nTry 'quorvel --help' for more information.\n")
  expect_kept("usage [${case}]" "${WORK}/a" "previous")
endforeach()
# "--" ends the options: a file may then begin with "-".
file(COPY "${SAMPLES}/invoices.txt" DESTINATION "${WORK}")
file(RENAME "${WORK}/invoices.txt" "${WORK}/-i.txt")
run(txt2xml -q -- -i.txt dashed.xml)
expect("--" "${code}:${out}:${err}" "0::")

# The manual names every option --help does and no other, carries the
# version, and (where groff is) renders without a warning.
file(READ "${SOURCE_DIR}/tools/quorvel.1" manual)
string(REPLACE "\\-" "-" manual_text "${manual}")
string(REGEX MATCHALL "--[a-z][a-z-]*" help_options "${help}")
string(REGEX MATCHALL "--[a-z][a-z-]*" manual_options "${manual_text}")
foreach(list IN ITEMS help_options manual_options)
  list(REMOVE_DUPLICATES ${list})
  list(SORT ${list})
endforeach()
list(REMOVE_ITEM manual_options --bogus)  # its example of wrong usage
expect("options in --help and in quorvel.1" "${manual_options}" "${help_options}")
expect_contains("quorvel.1 version" "${manual}" "\"Quorvel ${VERSION}\"")
# Its format section lists the text file's ten fields, in their order.
string(REGEX MATCH "\\.SS The text file\n.*\\.SS The exchange document" text_format "${manual}")
string(REGEX MATCHALL "\\.TP\n\\.B [a-z]+\n" items "${text_format}")
string(REGEX REPLACE "\\.TP\n\\.B ([a-z]+)\n" "\\1" fields "${items}")
expect("the text file's fields in quorvel.1" "${fields}" "dm;hm;gf;xf;kr;je;se;mw;sy;bb")
find_program(GROFF groff REQUIRED)  # Debian: groff-base
execute_process(COMMAND ${GROFF} -man -Tutf8 -ww -z "${SOURCE_DIR}/tools/quorvel.1"
                RESULT_VARIABLE groff_code ERROR_VARIABLE groff_err)
expect("groff on quorvel.1" "${groff_code}:${groff_err}" "0:")

# A failure names the file and the system's reason.
run(xml2txt missing.xml out.txt)
expect("missing input" "${code}:${err}" "1:quorvel: missing.xml: cannot open: No such file or directory\n")
run(txt2xml missing.txt out.xml)
expect("missing input" "${code}:${err}" "1:quorvel: missing.txt: cannot open: No such file or directory\n")
if(EXISTS "${WORK}/out.txt" OR EXISTS "${WORK}/out.xml")
  message(SEND_ERROR "a failed conversion wrote an output file")
endif()

# The samples: counts and "wrote" lines on standard error, nothing on
# standard output; --quiet drops them.
run(txt2xml "${SAMPLES}/invoices.txt" doc.xml --type 102 --nsr N1 --qymc Q1)
expect("txt2xml sample" "${code}:${out}:${err}" "0::wrote doc.xml: 4 rows\n")
read_bytes("${WORK}/doc.xml" doc)
expect_bytes("txt2xml sample" "${doc}" "  <code>RZ00102</code>\r\n")
expect_bytes("txt2xml sample" "${doc}" "  <nsr>N1</nsr>\r\n  <qymc>Q1</qymc>\r\n")
expect_bytes("txt2xml sample" "${doc}" "  <rows>4</rows>\r\n")

run(xml2txt "${SAMPLES}/returned.xml" back.txt)
expect("xml2txt sample" "${code}:${out}:${err}" "0::rows: 4\nnsr: ${NSR}\nwrote back.txt\n")
expect_same_file("xml2txt sample output" "${WORK}/back.txt" "${DATA}/samples_returned.txt")
run(xml2txt "${SAMPLES}/returned.xml" back.txt --quiet)
expect("xml2txt --quiet" "${code}:${out}:${err}" "0::")

# In the C locale arguments reach the library as bytes: GBK in a path and in
# a value. (A Windows program gets its arguments as UTF-16, which GBK bytes
# are not: natively only; the encoding checks pass Unicode arguments under
# Wine.)
if(NOT EMULATOR)
  string(ASCII 196 207 190 169 gbk)
  file(WRITE "${WORK}/in${gbk}.txt" "a\tb\n")
  tool(LOCALE C ARGS txt2xml "in${gbk}.txt" "out${gbk}.xml" --nsr "${gbk}" --qymc "q${gbk}"
                     --allow-empty-rows -q)
  expect("GBK arguments" "${code}" 0)
  read_bytes("${WORK}/out${gbk}.xml" doc)
  expect_bytes("GBK arguments" "${doc}" "  <nsr>${gbk}</nsr>\r\n  <qymc>q${gbk}</qymc>\r\n")
endif()

# quorvel.exe carries the library's core: alone in a folder, with no
# Quorvel.dll beside it, it converts.
if(EMULATOR)
  file(MAKE_DIRECTORY "${WORK}/alone")
  file(COPY "${TOOL}" "${SAMPLES}/returned.xml" DESTINATION "${WORK}/alone")
  get_filename_component(name "${TOOL}" NAME)
  execute_process(COMMAND ${EMULATOR} "${WORK}/alone/${name}" xml2txt returned.xml alone.txt --quiet
                  WORKING_DIRECTORY "${WORK}/alone" RESULT_VARIABLE code OUTPUT_VARIABLE out
                  ERROR_VARIABLE err)
  expect("quorvel.exe without Quorvel.dll" "${code}:${out}:${err}" "0::")
  expect_same_file("quorvel.exe without Quorvel.dll" "${WORK}/alone/alone.txt"
                   "${DATA}/samples_returned.txt")
endif()
# Exhausted memory ends with a message, exit 1 and no temporary file left
# (the copy of standard input is removed), not with an abort: a 32 MiB line
# read under a 24 MB limit on the address space. Natively, and not under
# the sanitizers, which need more address space than that.
if(NOT EMULATOR AND NOT SANITIZE)
  string(REPEAT "x" 33554432 line)
  file(WRITE "${WORK}/long.txt" "${line}")
  unset(line)
  set(ENV{TMPDIR} "${TEMP_DIR}")
  execute_process(COMMAND sh -c "ulimit -v 24000 && exec \"$0\" check -" "${TOOL}"
                  INPUT_FILE "${WORK}/long.txt" WORKING_DIRECTORY "${WORK}"
                  RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  unset(ENV{TMPDIR})
  expect("out of memory" "${code}:${out}:${err}" "1::quorvel: out of memory\n")
  file(REMOVE "${WORK}/long.txt")
endif()
expect_no_temporaries("basics")
