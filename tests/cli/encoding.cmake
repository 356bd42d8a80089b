# --encoding utf-8 on the text side, Unicode arguments, and the characters
# that cannot cross: each named by file, line and column, nothing written.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)

# The README's example: the UTF-8 sample and a Unicode company name give the
# document the GBK sample and GBK bytes give. Under Wine the name arrives as
# UTF-16 and still becomes GBK.
run(txt2xml "${SAMPLES}/invoices-utf8.txt" utf8.xml --encoding utf-8 --nsr ${NSR} --qymc ${QYMC_UTF8})
expect("UTF-8 sample" "${code}:${out}:${err}" "0::wrote utf8.xml: 4 rows\n")
read_bytes("${WORK}/utf8.xml" doc)
expect_bytes("UTF-8 sample" "${doc}" "  <qymc>${QYMC_GBK}</qymc>\r\n")
run(txt2xml "${SAMPLES}/invoices.txt" ascii.xml --nsr ${NSR} --qymc Q)
run(txt2xml "${SAMPLES}/invoices-utf8.txt" ascii-utf8.xml --encoding=UTF-8 --nsr ${NSR} --qymc Q)
expect_same_file("UTF-8 text" "${WORK}/ascii-utf8.xml" "${WORK}/ascii.xml")
if(NOT EMULATOR)
  tool(LOCALE C ARGS txt2xml "${SAMPLES}/invoices.txt" gbk.xml --nsr ${NSR} --qymc ${QYMC_GBK})
  expect("GBK sample" "${code}:${err}" "0:wrote gbk.xml: 4 rows\n")
  expect_same_file("UTF-8 text and arguments" "${WORK}/utf8.xml" "${WORK}/gbk.xml")
endif()

# Bytes that are not UTF-8 and the byte order mark, as CMake has no escapes
# for them.
string(ASCII 214 208 gbk_zhong)
string(ASCII 239 187 191 bom)
string(ASCII 255 ff)
string(ASCII 228 184 cut)
string(ASCII 192 128 overlong)

# A byte order mark is dropped, with --encoding utf-8 or without it; CR,
# LF, CR LF and TAB stay as they are.
file(WRITE "${WORK}/bom.txt" "${bom}中\t1\r\n\r2\n3\t")
file(WRITE "${WORK}/plain.txt" "${gbk_zhong}\t1\r\n\r2\n3\t")
run(txt2xml plain.txt plain.xml --allow-empty-rows)
foreach(encoding IN ITEMS "" "--encoding;utf-8")
  run(txt2xml bom.txt bom.xml ${encoding} --allow-empty-rows)
  expect_same_file("byte order mark and line breaks [${encoding}]" "${WORK}/bom.xml"
                   "${WORK}/plain.xml")
endforeach()
# It is dropped before lines and fields are counted: alone it leaves no
# line; before a line break, one empty line of 0 fields.
file(WRITE "${WORK}/bom-only.txt" "${bom}")
run(check bom-only.txt --encoding utf-8)
expect("a byte order mark alone" "${code}:${out}:${err}"
       "0:bom-only.txt: text, 0 rows: converts cleanly\n:")
file(WRITE "${WORK}/bom-crlf.txt" "${bom}\r\n")
run(check bom-crlf.txt --encoding utf-8 --allow-empty-rows)
expect("a byte order mark and a line break" "${code}:${out}:${err}"
       "3:bom-crlf.txt: text, 1 row: converts, with warnings\n:quorvel: bom-crlf.txt:1: 0 fields: written as an empty row\n")

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
expect("library message" "${code}:${err}" "1:quorvel: sy.txt: '中' is not a valid integer value\n")

# A long name, and a long value, are shown whole (natively: on Windows names
# are in the ANSI code page).
if(NOT EMULATOR)
  string(REPEAT "é" 120 long_folder)
  run(txt2xml "${SAMPLES}/invoices-utf8.txt" "${long_folder}/out.xml" --encoding utf-8)
  expect("a long name" "${code}" 1)
  expect_contains("a long name" "${err}" "quorvel: ${long_folder}/out.xml: cannot create")
  string(REPEAT "x" 300 value)
  file(WRITE "${WORK}/x.txt" "1\t2\t3\t4\t5\t6\t7\t8\t${value}\t10\n")
  run(txt2xml x.txt keep.xml --encoding utf-8)
  expect("a long value" "${code}:${err}" "1:quorvel: x.txt: '${value}' is not a valid integer value\n")
endif()

# Without the option, a text that looks like UTF-8 (no mark) is refused,
# nothing written; saying --encoding gbk keeps its bytes.
run(txt2xml "${SAMPLES}/invoices-utf8.txt" keep.xml)
expect("UTF-8 without --encoding" "${code}:${err}"
       "1:quorvel: ${SAMPLES}/invoices-utf8.txt: looks like UTF-8: --encoding utf-8 converts it to GBK, --encoding gbk keeps its bytes as they are\n")
expect_kept("UTF-8 without --encoding" "${WORK}/keep.xml" "previous")
run(txt2xml "${SAMPLES}/invoices-utf8.txt" hint.xml --encoding gbk)
# (Its bytes are kept, and named where they are not GBK.)
expect("UTF-8 with --encoding gbk" "${code}:${err}"
       "0:quorvel: ${SAMPLES}/invoices-utf8.txt:1: xf holds byte 0x80, which is not GBK: XML parsers will reject the document (--encoding names the text's character set)\nquorvel: ${SAMPLES}/invoices-utf8.txt:2: xf holds byte 0xAC, which is not GBK: XML parsers will reject the document (--encoding names the text's character set)\nquorvel: ${SAMPLES}/invoices-utf8.txt:3: xf holds byte 0xAD, which is not GBK: XML parsers will reject the document (--encoding names the text's character set)\nquorvel: ${SAMPLES}/invoices-utf8.txt:4: xf holds byte 0xAC, which is not GBK: XML parsers will reject the document (--encoding names the text's character set)\nwrote hint.xml: 4 rows\n")

# UTF-16 with a mark (Excel's "Unicode text"), LE or BE, converts as its
# UTF-8 form does, the mark deciding over what --encoding says of its byte
# order; without a mark --encoding utf-16 takes it as LE. (iconv: Debian's
# libc-bin.)
find_program(ICONV iconv REQUIRED)
string(ASCII 255 254 mark_le)
string(ASCII 254 255 mark_be)
file(WRITE "${WORK}/mark-le" "${mark_le}")
file(WRITE "${WORK}/mark-be" "${mark_be}")
foreach(form IN ITEMS LE BE)
  execute_process(COMMAND ${ICONV} -f UTF-8 -t UTF-16${form} "${SAMPLES}/invoices-utf8.txt"
                  OUTPUT_FILE "${WORK}/bare-${form}.txt")
  string(TOLOWER "${form}" lower)
  execute_process(COMMAND ${CMAKE_COMMAND} -E cat "${WORK}/mark-${lower}" "${WORK}/bare-${form}.txt"
                  OUTPUT_FILE "${WORK}/utf16-${form}.txt")
  foreach(encoding IN ITEMS "" "--encoding;utf-16" "--encoding;utf-16be" "--encoding=utf-16le")
    run(txt2xml utf16-${form}.txt utf16-${form}.xml --nsr ${NSR} --qymc Q ${encoding})
    expect("UTF-16 ${form} [${encoding}]" "${code}:${err}" "0:wrote utf16-${form}.xml: 4 rows\n")
    expect_same_file("UTF-16 ${form} [${encoding}]" "${WORK}/utf16-${form}.xml" "${WORK}/ascii.xml")
  endforeach()
endforeach()
run(txt2xml bare-LE.txt bare.xml --nsr ${NSR} --qymc Q --encoding utf-16 -q)
expect_same_file("UTF-16 without a mark" "${WORK}/bare.xml" "${WORK}/ascii.xml")
run(check utf16-BE.txt)
expect("check UTF-16" "${code}:${out}" "0:utf16-BE.txt: text, 4 rows: converts cleanly\n")
file(WRITE "${WORK}/emoji.utf8" "a\tb\nc😀\n")
execute_process(COMMAND ${ICONV} -f UTF-8 -t UTF-16LE "${WORK}/emoji.utf8"
                OUTPUT_FILE "${WORK}/emoji-bare.txt")
execute_process(COMMAND ${CMAKE_COMMAND} -E cat "${WORK}/mark-le" "${WORK}/emoji-bare.txt"
                OUTPUT_FILE "${WORK}/emoji.txt")
run(txt2xml emoji.txt keep.xml)
expect("UTF-16 without GBK form" "${code}:${err}" "1:quorvel: emoji.txt:2:2: U+1F600 has no GBK form\n")
expect_kept("UTF-16 without GBK form" "${WORK}/keep.xml" "previous")

# --nsr and --qymc follow the locale: UTF-8 is converted to GBK, C passes
# bytes (natively; under Wine the arguments are Unicode whatever the locale).
run(txt2xml "${SAMPLES}/invoices.txt" locale.xml --qymc ${QYMC_UTF8} -q)
read_bytes("${WORK}/locale.xml" doc)
expect_bytes("a UTF-8 value in a UTF-8 locale" "${doc}" "  <qymc>${QYMC_GBK}</qymc>\r\n")

# xml2txt writes UTF-8, and shows the nsr in it.
run(xml2txt "${SAMPLES}/returned.xml" returned.txt --encoding utf-8)
expect("xml2txt UTF-8" "${code}:${err}" "0:rows: 4\nnsr: ${NSR}\nwrote returned.txt\n")
expect_same_file("xml2txt UTF-8" "${WORK}/returned.txt" "${DATA}/samples_returned_utf8.txt")
file(WRITE "${WORK}/nsr.xml" "<nsr>${gbk_zhong}</nsr>\n<rows>0</rows>\n<data>\n")
foreach(encoding IN ITEMS "--encoding;utf-8" "")
  run(xml2txt nsr.xml nsr.txt ${encoding})
  expect("nsr in UTF-8 [${encoding}]" "${code}:${err}" "0:rows: 0\nnsr: 中\nwrote nsr.txt\n")
endforeach()
if(NOT EMULATOR)
  tool(LOCALE C ARGS xml2txt nsr.xml nsr.txt)
  expect("nsr in the C locale" "${code}:${err}" "0:rows: 0\nnsr: ${gbk_zhong}\nwrote nsr.txt\n")
endif()

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
