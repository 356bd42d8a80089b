# Lines of neither 10 nor 8 fields, incomplete rows, a rows value that
# differs from the blocks, and check: each named where it is, the first 20
# then a count; check reports without writing anything.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)

file(READ "${SAMPLES}/invoices.txt" invoices)
file(READ "${SAMPLES}/returned.xml" returned)

# A line of neither 10 nor 8 fields fails, named, nothing written; with
# --allow-empty-rows it becomes an empty row and a warning; --strict makes
# that warning a failure again.
file(WRITE "${WORK}/three.txt" "${invoices}a\tb\tc\r\n")
file(WRITE "${WORK}/keep.xml" "previous")
set(refused "quorvel: three.txt: 1 line of neither 10 nor 8 fields")
set(allow "(--allow-empty-rows writes them as empty rows)")
foreach(case IN ITEMS
        "|1::quorvel: three.txt:5: 3 fields\n${refused}@ nothing was written ${allow}\n"
        "--allow-empty-rows;--strict|1::quorvel: three.txt:5: 3 fields\nquorvel: --strict: 1 warning@ nothing was written\n")
  split_case("${case}")
  string(REPLACE "@" ";" expected "${expected}")
  run(txt2xml three.txt keep.xml ${args})
  expect("3-field line [${args}]" "${code}:${out}:${err}" "${expected}")
  expect_kept("3-field line [${args}]" "${WORK}/keep.xml" "previous")
endforeach()
run(txt2xml three.txt three.xml --allow-empty-rows)
expect("3-field line, --allow-empty-rows" "${code}:${out}:${err}"
       "0::quorvel: three.txt:5: 3 fields: written as an empty row\nwrote three.xml: 5 rows\n")
read_bytes("${WORK}/three.xml" doc)
expect_bytes("3-field line" "${doc}" "  <row id=\"5\">\r\n  </row>\r\n")
run(txt2xml "${SAMPLES}/invoices.txt" strict.xml --strict --quiet)
expect("clean text, --strict" "${code}:${err}" "0:")

# 25 such lines (empty lines and 1, 9 and 11 fields among them): 20 named,
# then a count.
set(odd "")
set(expected "")
foreach(i RANGE 1 25)
  math(EXPR kind "${i} % 4")
  if(kind EQUAL 0)
    set(line "")
    set(fields "0 fields")
  elseif(kind EQUAL 1)
    set(line "x")
    set(fields "1 field")
  elseif(kind EQUAL 2)
    set(line "1\t2\t3\t4\t5\t6\t7\t8\t9")
    set(fields "9 fields")
  else()
    set(line "1\t2\t3\t4\t5\t6\t7\t8\t9\t10\t11")
    set(fields "11 fields")
  endif()
  string(APPEND odd "${line}\n1\t2\t3\t4\t5\t6\t7\t8\n")
  math(EXPR number "2 * ${i} - 1")
  if(i LESS_EQUAL 20)
    string(APPEND expected "quorvel: odd.txt:${number}: ${fields}: written as an empty row\n")
  endif()
endforeach()
file(WRITE "${WORK}/odd.txt" "${odd}")
run(txt2xml odd.txt odd.xml --quiet --allow-empty-rows)
expect("25 odd lines" "${code}:${err}"
       "0:${expected}quorvel: odd.txt: 5 more lines written as empty rows\n")
string(REPLACE ": written as an empty row" "" expected "${expected}")
run(txt2xml odd.txt keep.xml --quiet)
expect("25 odd lines refused" "${code}:${err}"
       "1:${expected}quorvel: odd.txt: 5 more lines of neither 10 nor 8 fields\nquorvel: odd.txt: 25 lines of neither 10 nor 8 fields; nothing was written ${allow}\n")
expect_kept("25 odd lines refused" "${WORK}/keep.xml" "previous")

# An incomplete row named by its id, its lines and what it lacks; the output
# is left alone.
# (file(READ) gives the sample's lines LF-ended.)
string(REPLACE "<sy>00000000000000FF</sy>\n   <jg>0000</jg>\n   <rq>20261205</rq>\n"
               "<sy>00000000000000FF</sy>\n   <jg>0000</jg>\n" lacking "${returned}")
string(REPLACE "<sy>0000000000001F40</sy>\n   <jg>0000</jg>\n   <rq>20261205</rq>\n"
               "<sy>0000000000001F40</sy>\n" lacking "${lacking}")
string(REPLACE "<row id=\"1\">" "<row>" lacking "${lacking}")
file(WRITE "${WORK}/lacking.xml" "${lacking}")
file(WRITE "${WORK}/keep.txt" "previous")
run(xml2txt lacking.xml keep.txt)
expect("incomplete row" "${code}:${out}:${err}"
       "2::rows: 4\nnsr: ${NSR}\nquorvel: row #1 (lines 13-24): no rq\nquorvel: row 2 (lines 25-35): no jg, rq\nquorvel: 2 of 4 rows lack some of their eleven values; nothing was written\n")
expect_kept("incomplete row" "${WORK}/keep.txt" "previous")

# 23 incomplete rows: 20 named, then a count.
set(rows "")
set(expected "")
foreach(i RANGE 1 23)
  math(EXPR first "4 * ${i}")
  math(EXPR last "${first} + 3")
  string(APPEND rows "<row id=\"${i}\">\n<dm>1</dm><hm>2</hm>\n<jg>0</jg>\n</row>\n")
  if(i LESS_EQUAL 20)
    string(APPEND expected "quorvel: row ${i} (lines ${first}-${last}): no gf, xf, kr, je, se, mw, sy, rq\n")
  endif()
endforeach()
file(WRITE "${WORK}/many.xml" "<nsr>N</nsr>\n<rows>23</rows>\n<data>\n${rows}")
run(xml2txt many.xml many.txt --quiet)
expect("23 incomplete rows" "${code}:${err}"
       "2:${expected}quorvel: 3 more incomplete rows\nquorvel: 23 of 23 rows lack some of their eleven values; nothing was written\n")

# check: the kind from the content, a verdict on standard output, the
# reasons on standard error, and an exit status for each verdict.
file(WRITE "${WORK}/sy.txt" "${invoices}1\t2\t3\t4\t5\t6\t7\t8\tx\t10\r\n")
file(WRITE "${WORK}/short.xml" "<nsr>N</nsr>\n<rows>2</rows>\n<data>\n<row id=\"1\">\n</row>\n")
file(WRITE "${WORK}/nonsr.xml" "<nsr></nsr>\n<rows>2</rows>\n<data>\n")
string(REPLACE "<rows>4</rows>" "<rows>3</rows>" three_of_four "${returned}")
file(WRITE "${WORK}/three-of-four.xml" "${three_of_four}")
set(utf8_hint "looks like UTF-8: --encoding utf-8 converts it to GBK, --encoding gbk keeps its bytes as they are")
set(cases
    "${SAMPLES}/invoices.txt|0|${SAMPLES}/invoices.txt: text, 4 rows: converts cleanly|"
    "three.txt|1|three.txt: text: would fail|quorvel: three.txt:5: 3 fields\n${refused} ${allow}\n"
    "three.txt@--allow-empty-rows|3|three.txt: text, 5 rows: converts, with warnings|quorvel: three.txt:5: 3 fields: written as an empty row\n"
    "${SAMPLES}/invoices-utf8.txt|1|${SAMPLES}/invoices-utf8.txt: text: would fail|quorvel: ${SAMPLES}/invoices-utf8.txt: ${utf8_hint}\n"
    "sy.txt|1|sy.txt: text: would fail|quorvel: sy.txt: 'x' is not a valid integer value\n"
    "${SAMPLES}/returned.xml|0|${SAMPLES}/returned.xml: returned document, 4 rows, nsr ${NSR}: converts cleanly|"
    "lacking.xml|2|lacking.xml: returned document, 4 rows, nsr ${NSR}: 2 incomplete rows|quorvel: row #1 (lines 13-24): no rq\nquorvel: row 2 (lines 25-35): no jg, rq\n"
    "three-of-four.xml|3|three-of-four.xml: returned document, 3 rows, nsr ${NSR}: converts, with warnings|quorvel: three-of-four.xml: rows says 3, but the document holds 4 row blocks: only the first 3 are converted\n"
    "three-of-four.xml@--strict|1|three-of-four.xml: returned document: would fail|quorvel: three-of-four.xml: rows says 3, but the document holds 4 row blocks: only the first 3 are converted\nquorvel: --strict: 1 warning\n"
    "short.xml|1|short.xml: returned document: would fail|quorvel: short.xml: the document ends inside a row block (no closing </row> line), or before all the row blocks its rows value announces (searched from line 6) (List index out of bounds (5))\n"
    "nonsr.xml|1|nonsr.xml: returned document: would fail|quorvel: nonsr.xml: no line holds an nsr value (<nsr>, not empty) (List index out of bounds (3))\n"
    "missing.txt|1|missing.txt: would fail|quorvel: missing.txt: cannot open: No such file or directory\n")
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 file)
  list(GET case 1 expected_code)
  list(GET case 2 summary)
  list(GET case 3 diagnostics)
  string(REPLACE "@" ";" file "${file}")
  string(APPEND summary "\n")
  file(GLOB before "${WORK}/*")
  run(check ${file})
  expect("check ${file}" "${code}:${out}:${err}" "${expected_code}:${summary}:${diagnostics}")
  file(GLOB after "${WORK}/*")
  expect("check ${file} writes nothing" "${after}" "${before}")
endforeach()

# Several files: a verdict each, the exit status of the worst.
foreach(case IN ITEMS "0|${SAMPLES}/invoices.txt;${SAMPLES}/returned.xml"
                      "3|${SAMPLES}/invoices.txt;three-of-four.xml"
                      "2|three-of-four.xml;lacking.xml;${SAMPLES}/returned.xml"
                      "1|lacking.xml;sy.txt;three-of-four.xml")
  string(REPLACE "|" ";" case "${case}")
  list(POP_FRONT case expected_code)
  run(check ${case} --quiet)
  expect("check ${case}" "${code}:${out}" "${expected_code}:")
endforeach()
run(check "${SAMPLES}/invoices.txt" "${SAMPLES}/returned.xml")
expect("check of two files" "${out}"
       "${SAMPLES}/invoices.txt: text, 4 rows: converts cleanly\n${SAMPLES}/returned.xml: returned document, 4 rows, nsr ${NSR}: converts cleanly\n")

# A temporary file of check's own that cannot be written is no verdict on
# FILE: "cannot check", exit 4. (Natively: a limit on the size of the files
# this program writes, with SIGXFSZ ignored so that the write fails.)
if(NOT EMULATOR)
  string(REPEAT "${invoices}" 200 long)
  file(WRITE "${WORK}/long.txt" "${long}")
  write_document("${WORK}/long.xml" 2000)
  set(ENV{TMPDIR} "${TEMP_DIR}")
  foreach(file IN ITEMS long.txt long.xml)
    execute_process(COMMAND sh -c "trap '' XFSZ; ulimit -f 64 && exec \"$0\" check \"$1\""
                            "${TOOL}" "${file}"
                    WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE code OUTPUT_VARIABLE out
                    ERROR_VARIABLE err)
    expect("check ${file}, its temporary file too large" "${code}:${out}:${err}"
           "4::quorvel: cannot check: a temporary file: cannot write: File too large\n")
  endforeach()
  unset(ENV{TMPDIR})
endif()

run(check "${SAMPLES}/invoices-utf8.txt" --encoding utf-8 --quiet)
expect("check --encoding utf-8 --quiet" "${code}:${out}:${err}" "0::")
expect_no_temporaries("diagnostics")
