cmake_minimum_required(VERSION 3.25)
# "-" for standard input and output, pipes, and failed writes of standard
# output.
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)

run(txt2xml "${SAMPLES}/invoices.txt" file.xml --nsr ${NSR} --qymc Q)
run(xml2txt "${SAMPLES}/returned.xml" file.txt)

# "-" both ways: standard output carries the converted bytes alone, CR LF
# and all; messages go to standard error.
tool(STDIN "${SAMPLES}/invoices.txt" STDOUT "${WORK}/piped.xml"
     ARGS txt2xml - - --nsr ${NSR} --qymc Q)
expect("txt2xml - -" "${code}:${err}" "0:wrote (standard output): 4 rows\n")
expect_same_file("txt2xml - -" "${WORK}/piped.xml" "${WORK}/file.xml")
tool(STDIN "${SAMPLES}/returned.xml" STDOUT "${WORK}/piped.txt" ARGS xml2txt - -)
expect("xml2txt - -" "${code}:${err}" "0:rows: 4\nnsr: ${NSR}\nwrote (standard output)\n")
expect_same_file("xml2txt - -" "${WORK}/piped.txt" "${DATA}/samples_returned.txt")
tool(STDIN "${SAMPLES}/returned.xml" STDOUT "${WORK}/piped.txt" ARGS xml2txt - - --quiet)
expect("xml2txt - - --quiet" "${code}:${err}" "0:")
tool(STDIN "${SAMPLES}/returned.xml" ARGS xml2txt - stdin.txt --encoding utf-8)
expect("xml2txt - FILE" "${code}:${out}:${err}" "0::rows: 4\nnsr: ${NSR}\nwrote stdin.txt\n")
expect_same_file("xml2txt - FILE" "${WORK}/stdin.txt" "${DATA}/samples_returned_utf8.txt")
tool(STDIN "${SAMPLES}/invoices-utf8.txt" STDOUT "${WORK}/utf8.xml"
     ARGS txt2xml - - --nsr ${NSR} --qymc Q --encoding utf-8)
expect_same_file("txt2xml - - --encoding utf-8" "${WORK}/utf8.xml" "${WORK}/file.xml")

# Diagnostics name standard input, and a failure writes nothing to standard
# output.
file(WRITE "${WORK}/odd.txt" "a\tb\n1\t2\t3\t4\t5\t6\t7\t8\tbad\t10\n")
tool(STDIN "${WORK}/odd.txt" ARGS check - --allow-empty-rows)
expect("check -" "${code}:${out}:${err}"
       "1:(standard input): text: would fail\n:quorvel: (standard input):1: 2 fields: written as an empty row\nquorvel: (standard input): 'bad' is not a valid integer value\n")
tool(STDIN "${WORK}/odd.txt" STDOUT "${WORK}/failed.xml" ARGS txt2xml - - --allow-empty-rows)
expect("txt2xml - - failing" "${code}:${err}"
       "1:quorvel: (standard input): 'bad' is not a valid integer value\n")
file(SIZE "${WORK}/failed.xml" size)
expect("txt2xml - - failing writes nothing" "${size}" 0)
file(WRITE "${WORK}/empty.xml" "")
tool(STDIN "${WORK}/empty.xml" STDOUT "${WORK}/failed.txt" ARGS xml2txt - -)
expect("xml2txt - - failing" "${code}:${err}"
       "1:quorvel: (standard input): no line holds an nsr value (<nsr>, not empty) (List index out of bounds (0))\n")

# A pipe named as a file is read once, by this program, which hands the
# library a copy: the library still gets the whole text.
if(NOT EMULATOR)
  execute_process(COMMAND cat "${SAMPLES}/invoices.txt"
                  COMMAND ${TOOL} txt2xml /dev/stdin pipe.xml --nsr ${NSR} --qymc Q
                  WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE code ERROR_VARIABLE err)
  expect("a pipe as INPUT" "${code}:${err}" "0:wrote pipe.xml: 4 rows\n")
  expect_same_file("a pipe as INPUT" "${WORK}/pipe.xml" "${WORK}/file.xml")
  execute_process(COMMAND cat "${SAMPLES}/returned.xml"
                  COMMAND ${TOOL} check /dev/stdin
                  WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE code OUTPUT_VARIABLE out)
  expect("a pipe to check" "${code}:${out}"
         "0:/dev/stdin: returned document, 4 rows, nsr ${NSR}: converts cleanly\n")
endif()

# The content of a stream ends at its first NUL, as the library reads it,
# and a warning says so: a stream that goes on after one is not read to its
# end (here a writer that
# only stops when its reader has gone, held to a pace that keeps what the
# copy could gather before the time limit small).
if(NOT EMULATOR)
  set(ENV{TMPDIR} "${TEMP_DIR}")
  set(endless "printf 'a\\000'; while printf '%65536s' ''; do sleep 0.01; done")
  foreach(case IN ITEMS
          "xml2txt;-;nul.txt|1::quorvel: (standard input): this is a text, not an exchange document: 'quorvel txt2xml' converts it\n"
          "check;-;--allow-empty-rows|3:(standard input): text, 1 row: converts, with warnings\n:quorvel: (standard input):1: a NUL byte ends the content here: what follows it is not read\nquorvel: (standard input):1: 1 field: written as an empty row\n")
    split_case("${case}")
    execute_process(COMMAND sh -c "${endless}" COMMAND ${TOOL} ${args}
                    WORKING_DIRECTORY "${WORK}" TIMEOUT 10 RESULTS_VARIABLE codes
                    OUTPUT_VARIABLE out ERROR_VARIABLE err)
    list(GET codes -1 code)
    expect("[${args}] fed a NUL, then bytes without end" "${code}:${out}:${err}" "${expected}")
  endforeach()
  unset(ENV{TMPDIR})
endif()

# A document whose text fills a pipe many times over.
write_document("${WORK}/big.xml" 20000)

if(NOT EMULATOR)
  set(ENV{TMPDIR} "${TEMP_DIR}")
  # A reader that goes away: the write fails like any other (exit 1, a
  # message) instead of killing the program, and nothing is left in the
  # temporary folder, whether this program writes the pipe ("-") or the
  # library does (a path naming it).
  foreach(target IN ITEMS - /dev/stdout)
    execute_process(COMMAND ${TOOL} xml2txt big.xml ${target} --quiet COMMAND head -c 1
                    WORKING_DIRECTORY "${WORK}" TIMEOUT 60 RESULTS_VARIABLE codes OUTPUT_QUIET
                    ERROR_VARIABLE err)
    list(GET codes 0 code)
    if(target STREQUAL "-")
      expect("xml2txt to a closed pipe" "${code}:${err}"
             "1:quorvel: cannot write standard output: Broken pipe\n")
    else()
      expect("xml2txt to a closed pipe by its name" "${code}" 1)
      expect_contains("xml2txt to a closed pipe by its name" "${err}" "quorvel: ")
    endif()
    expect_no_temporaries("xml2txt to a closed pipe (${target})")
  endforeach()
  unset(ENV{TMPDIR})

  # The copy of standard input and the spool of standard output have no name
  # in the temporary folder: another user who may write there finds nothing
  # to swap for a link, and the program killed outright (SIGKILL) or asked
  # to end (SIGTERM) while it holds one, converting or copying standard
  # input, leaves nothing and writes nothing. The script waits for the
  # moments it needs, seen in /proc.
  execute_process(COMMAND "${SOURCE_DIR}/tests/cli/private_files.sh" "${TOOL}" "${WORK}/private"
                  TIMEOUT 300 RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  expect("the private temporary files" "${code}:${out}"
         "0:no temporary file had a name; nothing was left\n")
  if(NOT code EQUAL 0)
    message(SEND_ERROR "${err}")
  endif()
endif()

# Under Wine an interrupt is the console's Ctrl+C event: its handler removes
# the copy of standard input, although this program has it open then.
if(EMULATOR)
  execute_process(COMMAND sh -c "cat big.xml; sleep 3"
                  COMMAND timeout -s INT 1.5 ${EMULATOR} ${TOOL} xml2txt - int.txt
                  WORKING_DIRECTORY "${WORK}" TIMEOUT 60 RESULTS_VARIABLE codes)
  list(GET codes 1 code)
  expect("Ctrl+C while reading standard input: timeout's status" "${code}" 124)
  expect_no_temporaries("Ctrl+C while reading standard input")
  if(EXISTS "${WORK}/int.txt")
    message(SEND_ERROR "Ctrl+C while reading standard input: the output was written")
  endif()
endif()

# A standard output that cannot be written fails with exit 1 and says so
# (natively: /dev/full, where every write fails).
if(NOT EMULATOR)
  foreach(args IN ITEMS "xml2txt;${SAMPLES}/returned.xml;-" "txt2xml;${SAMPLES}/invoices.txt;-"
                        "check;${SAMPLES}/returned.xml" "check;${SAMPLES}/invoices.txt" "--help"
                        "--version")
    tool(STDOUT /dev/full ARGS ${args})
    expect("[${args}] to /dev/full" "${code}:${err}"
           "1:quorvel: cannot write standard output: No space left on device\n")
  endforeach()
  # A text that converts with warnings (exit 3) too: its verdict is lost.
  tool(STDOUT /dev/full ARGS check "${SAMPLES}/invoices.txt" --type=105)
  expect("[check --type=105] to /dev/full" "${code}" 1)
  expect_contains("[check --type=105] to /dev/full" "${err}"
                  "\nquorvel: cannot write standard output: No space left on device\n")
  # A closed standard output too: no file the program opens takes its place.
  foreach(args IN ITEMS "txt2xml '${SAMPLES}/invoices.txt' -" "check '${SAMPLES}/invoices.txt'")
    execute_process(COMMAND sh -c "'${TOOL}' ${args} >&-" WORKING_DIRECTORY "${WORK}" TIMEOUT 60
                    RESULT_VARIABLE code ERROR_VARIABLE err)
    expect("[${args}] to a closed standard output" "${code}:${err}"
           "1:quorvel: cannot write standard output: Bad file descriptor\n")
  endforeach()
  # Converting to a file does not use standard output at all.
  tool(STDOUT /dev/full ARGS xml2txt "${SAMPLES}/returned.xml" full.txt)
  expect("xml2txt to a file, /dev/full as standard output" "${code}" 0)
endif()
expect_no_temporaries("streams")
