cmake_minimum_required(VERSION 3.25)
# What is plainly wrong is refused, what a person can act on is said, and the
# document's date can be set: each through the program, the target checked
# unchanged after every refusal.
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)

file(READ "${SAMPLES}/returned.xml" returned)
file(WRITE "${WORK}/keep.txt" "previous")
file(WRITE "${WORK}/keep.xml" "previous")
set(rejects "written as it is: XML parsers will reject the document")

# Each case: arguments (split at ",") | exit status | standard error ("@"
# for ";"). Every one leaves keep.txt and keep.xml as they were.
file(WRITE "${WORK}/amp.txt" "1\t2\t3\tSmith & Sons\t5\t6\t7\t8\n")
string(REPLACE "<rows>4</rows>" "<rows>3</rows>" three_of_four "${returned}")
file(WRITE "${WORK}/three-of-four.xml" "${three_of_four}")
set(rows_differ "quorvel: three-of-four.xml: rows says 3, but the document holds 4 row blocks: only the first 3 are converted")
string(ASCII 10 nl)
string(ASCII 27 esc)
string(ASCII 255 ff)
file(WRITE "${WORK}/unfit.txt" "a]]>\t2\t3\t4\t5\t6\t7\t]]>\n1\t${ff}\t3\t4\t5\t6\t7\t8\n1\t2\t${esc}Z\t4\t5\t6\t7\t8\n")
# (CMake cannot write a NUL: printf does. Not "nul.txt": Windows takes
# that name for its null device.)
execute_process(COMMAND printf "1\t2\t3\t4\t5\t6\t7\t8\n\\0001\t2\t3\t4\t5\t6\t7\t8\n"
                OUTPUT_FILE "${WORK}/cut-short.txt" RESULT_VARIABLE printed)
expect("printf makes cut-short.txt" "${printed}" "0")
set(type_warning "quorvel: --type 105: no title of its own (100 and 102 have one): the document is titled as unknown data")
set(not_text "quorvel: ${SAMPLES}/returned.xml: this is an exchange document, not a text: 'quorvel xml2txt' converts it\n")
foreach(case IN ITEMS
        # The wrong command (or arguments swapped): a hint to the other, whatever
        # --encoding says the text is (its empty lines allowed or not).
        "txt2xml,${SAMPLES}/returned.xml,keep.txt|1|${not_text}"
        "txt2xml,${SAMPLES}/returned.xml,keep.xml,--encoding,gbk,--allow-empty-rows|1|${not_text}"
        "txt2xml,${SAMPLES}/returned.xml,keep.xml,--encoding=utf-8|1|${not_text}"
        "txt2xml,${SAMPLES}/returned.xml,keep.xml,--encoding,utf-16be,--allow-empty-rows|1|${not_text}"
        "check,${SAMPLES}/returned.xml,--encoding,gbk,--allow-empty-rows|0|"
        "xml2txt,${SAMPLES}/invoices.txt,keep.xml|1|quorvel: ${SAMPLES}/invoices.txt: this is a text, not an exchange document: 'quorvel txt2xml' converts it\n"
        # Values XML parsers reject, named by element and byte.
        "txt2xml,amp.txt,amp.xml,--qymc,Smith & Sons <Ltd>|0|quorvel: --qymc holds '&', ${rejects}\nquorvel: amp.txt:1: xf holds '&', ${rejects}\nwrote amp.xml: 1 row\n"
        "txt2xml,amp.txt,keep.xml,--nsr,N<1,--strict|1|quorvel: --nsr holds '<', ${rejects}\nquorvel: amp.txt:1: xf holds '&', ${rejects}\nquorvel: --strict: 2 warnings@ nothing was written\n"
        "check,amp.txt|3|quorvel: amp.txt:1: xf holds '&', ${rejects}\n"
        "check,amp.txt,--type=105,--strict|1|${type_warning}\nquorvel: amp.txt:1: xf holds '&', ${rejects}\nquorvel: --strict: 2 warnings\n"
        # What else XML parsers refuse, or the document's lines cannot hold.
        "check,unfit.txt|3|quorvel: unfit.txt:1: dm holds ']]>', ${rejects}\nquorvel: unfit.txt:1: rq holds ']]>', ${rejects}\nquorvel: unfit.txt:2: hm holds byte 0xFF, which is not GBK: XML parsers will reject the document (--encoding names the text's character set)\nquorvel: unfit.txt:3: gf holds byte 0x1B, ${rejects}\n"
        "txt2xml,${SAMPLES}/invoices.txt,keep.xml,--nsr,N${nl}1,--strict|1|quorvel: --nsr holds byte 0x0A, a line break: the document holds an element a line, and 'quorvel xml2txt' will not find it (make it one line)\nquorvel: --strict: 1 warning@ nothing was written\n"
        # A NUL ends the content: said where, and what it cuts off.
        "check,cut-short.txt|3|quorvel: cut-short.txt:2: a NUL byte ends the content here: the 16 bytes after it are not read\n"
        "txt2xml,cut-short.txt,keep.xml,--strict|1|quorvel: cut-short.txt:2: a NUL byte ends the content here: the 16 bytes after it are not read\nquorvel: --strict: 1 warning@ nothing was written\n"
        # A document type without a title of its own.
        "txt2xml,${SAMPLES}/invoices.txt,type.xml,--type,105|0|${type_warning}\nwrote type.xml: 4 rows\n"
        "txt2xml,${SAMPLES}/invoices.txt,keep.xml,--type=105,--strict|1|${type_warning}\nquorvel: --strict: 1 warning@ nothing was written\n"
        # A rows value other than the row blocks: both numbers.
        "xml2txt,three-of-four.xml,three.txt|0|rows: 3\nnsr: ${NSR}\n${rows_differ}\nwrote three.txt\n"
        "xml2txt,three-of-four.xml,keep.txt,--strict|1|${rows_differ}\nquorvel: --strict: 1 warning@ nothing was written\n"
        # A failure names the file and the system's reason.
        "txt2xml,nosuch.txt,keep.xml|1|quorvel: nosuch.txt: cannot open: No such file or directory\n")
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 arguments)
  list(GET case 1 expected_code)
  list(GET case 2 expected_err)
  string(REPLACE "@" ";" expected_err "${expected_err}")
  string(REPLACE "," ";" arguments "${arguments}")
  run(${arguments})
  expect("[${arguments}]" "${code}:${err}" "${expected_code}:${expected_err}")
  expect_kept("[${arguments}]" "${WORK}/keep.txt" "previous")
  expect_kept("[${arguments}]" "${WORK}/keep.xml" "previous")
endforeach()

# Names are shown as given, unless a control byte would let one forge a
# line: then quoted, the byte escaped. (Windows allows no such name.)
if(NOT EMULATOR)
  foreach(case IN ITEMS "plain.txt|plain.txt|plain.txt/x"
                        "new${nl}quorvel: x|'new\\nquorvel: x'|'new\\nquorvel: x/x'"
                        "it's${esc}Z.txt|'it\\'s\\x1BZ.txt'|'it\\'s\\x1BZ.txt/x'")
    string(REPLACE "|" ";" case "${case}")
    list(GET case 0 name)
    list(GET case 1 shown)
    list(GET case 2 shown_out)
    file(COPY_FILE "${SAMPLES}/invoices.txt" "${WORK}/${name}")
    run(check "${name}")
    expect("check [${name}]" "${code}:${out}" "0:${shown}: text, 4 rows: converts cleanly\n")
    run(txt2xml "${name}" "${name}/x")
    expect_contains("txt2xml [${name}]" "${err}" "quorvel: ${shown_out}: cannot create")
  endforeach()
endif()

# The date: --date, else SOURCE_DATE_EPOCH (UTC), else today; a document
# made twice with the same date is the same file.
function(expect_date what file date)
  file(READ "${WORK}/${file}" document)
  expect_contains("${what}" "${document}" "<scrq>${date}</scrq>")
endfunction()
run(txt2xml "${SAMPLES}/invoices.txt" date.xml --date 2026-01-02 -q)
expect_date("--date" date.xml 20260102)
tool(ENV SOURCE_DATE_EPOCH=951868799 ARGS txt2xml "${SAMPLES}/invoices.txt" epoch.xml -q)
expect_date("SOURCE_DATE_EPOCH" epoch.xml 20000229)
tool(ENV SOURCE_DATE_EPOCH=951868799 ARGS txt2xml "${SAMPLES}/invoices.txt" both.xml -q
                                          --date=2026-01-02)
expect_date("--date over SOURCE_DATE_EPOCH" both.xml 20260102)
file(READ "${WORK}/date.xml" first HEX)
file(READ "${WORK}/both.xml" second HEX)
expect("a document made twice" "${first}" "${second}")
tool(ENV SOURCE_DATE_EPOCH=soon ARGS txt2xml "${SAMPLES}/invoices.txt" keep.xml)
expect("a SOURCE_DATE_EPOCH that is no number" "${code}:${err}"
       "64:quorvel: invalid SOURCE_DATE_EPOCH 'soon'\nTry 'quorvel --help' for more information.\n")
expect_kept("a SOURCE_DATE_EPOCH that is no number" "${WORK}/keep.xml" "previous")
tool(ENV SOURCE_DATE_EPOCH=soon ARGS xml2txt "${SAMPLES}/returned.xml" undated.txt -q)
expect("xml2txt makes no document: SOURCE_DATE_EPOCH is not read" "${code}:${err}" "0:")

# The progress line: on a terminal (a pseudo-terminal here) only, erased
# before what follows; never with --no-progress. (Shown from the start here,
# not after a second.) Wine draws its console with escape sequences, and
# moves the cursor over blanks: there what shows is compared, blanks aside.
find_program(SCRIPT script REQUIRED)  # Debian: bsdutils
list(JOIN EMULATOR " " emulator)
string(ASCII 27 escape)
foreach(option IN ITEMS "" --no-progress)
  set(command "${emulator} '${TOOL}' txt2xml '${SAMPLES}/invoices.txt' tty.xml ${option}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E env QUORVEL_PROGRESS_DELAY_MS=0
                          ${SCRIPT} -qec "${command}" /dev/null
                  WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE code OUTPUT_VARIABLE shown
                  TIMEOUT 60)
  string(REPLACE "\r\n" "\n" shown "${shown}")
  set(line "quorvel: 100% 4 rows [0-9]+\\.[0-9] MB/s\r +\r")
  if(EMULATOR)
    string(REGEX REPLACE "${escape}\\[[?0-9;]*[A-Za-z]" "" shown "${shown}")
    string(REGEX REPLACE "[ \r]" "" shown "${shown}")
    set(line "quorvel:100%4rows[0-9]+\\.[0-9]MB/s")
  endif()
  if(option)
    string(REGEX MATCH "quorvel" progress "${shown}")
    expect("progress ${option}" "${code}:${progress}" "0:")
  elseif(NOT shown MATCHES "^\r?${line}wrote ?tty.xml: ?4 ?rows\n$")
    message(SEND_ERROR "progress on a terminal: [${shown}]")
  endif()
endforeach()
expect_no_temporaries("findings")
