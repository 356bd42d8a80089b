# --encoding utf-8 on the text side, Unicode arguments, and the characters
# that cannot cross: each named by file, line and column, nothing written.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)

# The README's example: the UTF-8 sample and a Unicode company name give the
# document the GBK sample and GBK bytes give. Under Wine the name arrives as
# UTF-16 and still becomes GBK.
run(txt2xml "${SAMPLES}/invoices-utf8.txt" utf8.xml --encoding utf-8 --nsr ${NSR} --qymc ${QYMC_UTF8})
expect("UTF-8 sample" "${code}:${out}:${err}" "0::wrote utf8.xml\n")
read_bytes("${WORK}/utf8.xml" doc)
expect_bytes("UTF-8 sample" "${doc}" "  <qymc>${QYMC_GBK}</qymc>\r\n")
run(txt2xml "${SAMPLES}/invoices.txt" ascii.xml --nsr ${NSR} --qymc Q)
run(txt2xml "${SAMPLES}/invoices-utf8.txt" ascii-utf8.xml --encoding=UTF-8 --nsr ${NSR} --qymc Q)
expect_same_file("UTF-8 text" "${WORK}/ascii-utf8.xml" "${WORK}/ascii.xml")
if(NOT EMULATOR)
  run(txt2xml "${SAMPLES}/invoices.txt" gbk.xml --nsr ${NSR} --qymc ${QYMC_GBK})
  expect("GBK sample" "${code}:${err}" "0:wrote gbk.xml\n")
  expect_same_file("UTF-8 text and arguments" "${WORK}/utf8.xml" "${WORK}/gbk.xml")
endif()

# Bytes that are not UTF-8 and the byte order mark, as CMake has no escapes
# for them.
string(ASCII 214 208 gbk_zhong)
string(ASCII 239 187 191 bom)
string(ASCII 255 ff)
string(ASCII 228 184 cut)
string(ASCII 192 128 overlong)

# A byte order mark is dropped; CR, LF, CR LF and TAB stay as they are.
file(WRITE "${WORK}/bom.txt" "${bom}中\t1\r\n\r2\n3\t")
file(WRITE "${WORK}/plain.txt" "${gbk_zhong}\t1\r\n\r2\n3\t")
run(txt2xml bom.txt bom.xml --encoding utf-8)
run(txt2xml plain.txt plain.xml)
expect_same_file("byte order mark and line breaks" "${WORK}/bom.xml" "${WORK}/plain.xml")
# It is dropped before lines and fields are counted: alone it leaves no
# line; before a line break, one empty line of 0 fields.
file(WRITE "${WORK}/bom-only.txt" "${bom}")
run(check bom-only.txt --encoding utf-8)
expect("a byte order mark alone" "${code}:${out}:${err}"
       "0:bom-only.txt: text, 0 lines (0 empty rows): converts cleanly\n:")
file(WRITE "${WORK}/bom-crlf.txt" "${bom}\r\n")
run(check bom-crlf.txt --encoding utf-8)
expect("a byte order mark and a line break" "${code}:${out}:${err}"
       "3:bom-crlf.txt: text, 1 line (1 empty row): converts, with warnings\n:quorvel: bom-crlf.txt:1: 0 fields: written as an empty row\n")

# What cannot become GBK fails at its place (the column counts characters),
# and an existing output is left as it was.
file(WRITE "${WORK}/keep.xml" "previous")
foreach(case IN ITEMS
        "ok\\n中文\\tx😀y\\n|2:5: U+1F600 has no GBK form"
        "a\\tÀ\\n|1:3: U+00C0 has no GBK form"
        "abc\\n\\n中${ff}\\n|3:2: invalid UTF-8 (byte 0xFF)"
        "中${cut}|1:2: invalid UTF-8 (byte 0xE4)"
        "${bom}${overlong}|1:1: invalid UTF-8 (byte 0xC0)")
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 content)
  list(GET case 1 expected)
  string(REPLACE "\\n" "\n" content "${content}")
  string(REPLACE "\\t" "\t" content "${content}")
  file(WRITE "${WORK}/bad.txt" "${content}")
  run(txt2xml bad.txt keep.xml --encoding utf-8)
  expect("[${content}]" "${code}:${out}:${err}" "1::quorvel: bad.txt:${expected}\n")
  expect_kept("[${content}]" "${WORK}/keep.xml" "previous")
endforeach()
run(txt2xml "${SAMPLES}/invoices-utf8.txt" keep.xml --encoding utf-8 --qymc "ab😀")
expect("value without GBK form" "${code}:${err}"
       "1:quorvel: --qymc: character 3: U+1F600 has no GBK form\n")
expect_kept("value without GBK form" "${WORK}/keep.xml" "previous")

# A library message carrying text from the converted file comes back in
# UTF-8, with the file's own name.
file(WRITE "${WORK}/sy.txt" "1\t2\t3\t4\t5\t6\t7\t8\t中\t10\n")
run(txt2xml sy.txt keep.xml --encoding utf-8)
expect("library message" "${code}:${err}" "1:quorvel: '中' is not a valid integer value\n")

# A message the library cut at 255 bytes, inside a name, still shows the
# whole name, and in UTF-8 (natively: on Windows names are in the ANSI code
# page, where this one is not long enough to be cut).
if(NOT EMULATOR)
  string(REPEAT "é" 120 long_folder)
  run(txt2xml "${SAMPLES}/invoices-utf8.txt" "${long_folder}/out.xml" --encoding utf-8)
  expect("a long name in a cut message" "${code}:${err}"
         "1:quorvel: Cannot create file ${long_folder}/out.xml\n")
  # Only a file's name: a cut value whose last byte begins the input's name
  # stays as it is.
  string(REPEAT "x" 300 value)
  string(REPEAT "x" 254 shown)
  file(WRITE "${WORK}/x.txt" "1\t2\t3\t4\t5\t6\t7\t8\t${value}\t10\n")
  run(txt2xml x.txt keep.xml --encoding utf-8)
  expect("a cut value" "${code}:${err}" "1:quorvel: '${shown}\n")
endif()

# Without the option, a UTF-8 text side draws one warning (a GBK one does
# not); saying --encoding gbk means it.
run(txt2xml "${SAMPLES}/invoices-utf8.txt" hint.xml)
expect("UTF-8 hint" "${code}:${err}"
       "0:quorvel: ${SAMPLES}/invoices-utf8.txt looks like UTF-8; --encoding utf-8 would convert it to GBK\nwrote hint.xml\n")
run(txt2xml "${SAMPLES}/invoices-utf8.txt" hint.xml --encoding gbk)
expect("no hint with --encoding gbk" "${code}:${err}" "0:wrote hint.xml\n")
run(txt2xml "${SAMPLES}/invoices.txt" hint.xml --qymc Q)
expect("no hint for GBK" "${code}:${err}" "0:wrote hint.xml\n")
if(NOT EMULATOR)
  run(txt2xml "${SAMPLES}/invoices.txt" hint.xml --qymc ${QYMC_UTF8})
  expect("UTF-8 value hint" "${code}:${err}"
         "0:quorvel: --qymc looks like UTF-8; --encoding utf-8 would convert it to GBK\nwrote hint.xml\n")
endif()

# xml2txt writes UTF-8, and shows the nsr in it.
run(xml2txt "${SAMPLES}/returned.xml" returned.txt --encoding utf-8)
expect("xml2txt UTF-8" "${code}:${err}" "0:rows: 4\nnsr: ${NSR}\nwrote returned.txt\n")
expect_same_file("xml2txt UTF-8" "${WORK}/returned.txt" "${DATA}/samples_returned_utf8.txt")
file(WRITE "${WORK}/nsr.xml" "<nsr>${gbk_zhong}</nsr>\n<rows>0</rows>\n<data>\n")
run(xml2txt nsr.xml nsr.txt --encoding utf-8)
expect("nsr in UTF-8" "${code}:${err}" "0:rows: 0\nnsr: 中\nwrote nsr.txt\n")

# Bytes of a document that are not GBK fail, naming their place.
file(READ "${SAMPLES}/returned.xml" returned)
string(REPLACE "<hm>00871234</hm>" "<hm>0087${ff}1234</hm>" not_gbk "${returned}")
file(WRITE "${WORK}/not-gbk.xml" "${not_gbk}")
file(WRITE "${WORK}/keep.txt" "previous")
run(xml2txt not-gbk.xml keep.txt --encoding utf-8)
expect("not GBK" "${code}:${err}" "1:quorvel: not-gbk.xml:28:12: byte 0xFF is not GBK\n")
expect_kept("not GBK" "${WORK}/keep.txt" "previous")
string(REPLACE "<nsr>" "<nsr>${ff}" not_gbk "${returned}")
file(WRITE "${WORK}/not-gbk.xml" "${not_gbk}")
run(xml2txt not-gbk.xml keep.txt --encoding utf-8)
expect("not GBK in the header" "${code}:${err}" "1:quorvel: not-gbk.xml:7:8: byte 0xFF is not GBK\n")

# File names: Unicode natively as bytes; on Windows through the ANSI code
# page, where a name it cannot hold fails.
file(COPY "${SAMPLES}/invoices.txt" DESTINATION "${WORK}")
file(RENAME "${WORK}/invoices.txt" "${WORK}/é.txt")
run(txt2xml é.txt é.xml --nsr ${NSR} --qymc Q --quiet)
expect("Unicode file name" "${code}:${err}" "0:")
expect_same_file("Unicode file name" "${WORK}/é.xml" "${WORK}/ascii.xml")
if(EMULATOR)
  run(txt2xml é.txt 中.xml)
  expect("a name the code page lacks" "${code}:${out}" "1:")
  expect_contains("a name the code page lacks" "${err}"
                  "quorvel: OUTPUT name: U+4E2D has no form in code page ")
endif()
expect_no_temporaries("encoding")
