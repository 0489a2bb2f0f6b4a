# The build step of resweaver_add_resources(), run at every build:
#
#   cmake -DTOOL=<resweaver> -DRCC=<rcc> -DQRC=<file.qrc> -DHTML=<folder> -DPREFIX=<prefix>
#         -DOPTIONS=<tool options> -DOUTPUT=<rcc's output> -DSTAMP=<file>
#         -P resweaverBuildStep.cmake
#
# brings the group up to date, then touches <file> when the .qrc or any file that rcc reads from
# it is newer than rcc's output. rcc's rule depends on <file>, and the build tool looks at its time
# only after this step (Ninja restats the byproduct, Make reads times when it reaches the rule),
# so rcc runs exactly when something changed, including files written earlier in the same build.
# Comparing with rcc's output, not with the stamp, keeps the answer right when several steps
# rewrite one .qrc in the same build, and after a build that stopped before rcc ran.
get_filename_component(folder "${QRC}" DIRECTORY)
get_filename_component(rcname "${QRC}" NAME)
string(REGEX REPLACE "\\.qrc$" "" rcname "${rcname}")
get_filename_component(html_dir "${HTML}" ABSOLUTE BASE_DIR "${folder}")
get_filename_component(stamp_dir "${STAMP}" DIRECTORY)
file(MAKE_DIRECTORY "${html_dir}" "${stamp_dir}")
execute_process(COMMAND "${TOOL}" ${OPTIONS} "${folder}" "${rcname}" "${HTML}" "${PREFIX}"
  RESULT_VARIABLE result OUTPUT_VARIABLE output)
if(NOT result EQUAL 0)
  string(STRIP "${output}" output)
  message(FATAL_ERROR "resweaver ${QRC}: ${output}")
endif()

# IS_NEWER_THAN also holds when the times are equal or the output is missing, so a change in
# the output's own clock tick is not missed.
set(changed FALSE)
if("${QRC}" IS_NEWER_THAN "${OUTPUT}")
  set(changed TRUE)
else()
  # rcc lists every file it reads from the .qrc, all groups, as absolute paths, one a line. When
  # it cannot (a listed file is missing), rcc's rule runs and reports it.
  execute_process(COMMAND "${RCC}" --list "${QRC}" RESULT_VARIABLE result
    OUTPUT_VARIABLE files ERROR_QUIET)
  if(NOT result EQUAL 0)
    set(changed TRUE)
  else()
    # Lines to a list: ';' escaped, and the characters that would join or change elements
    # (brackets, backslashes) stood in for by control characters that file names do not use.
    string(ASCII 1 open)
    string(ASCII 2 close)
    string(ASCII 3 backslash)
    string(REPLACE "[" "${open}" files "${files}")
    string(REPLACE "]" "${close}" files "${files}")
    string(REPLACE "\\" "${backslash}" files "${files}")
    string(REPLACE ";" "\\;" files "${files}")
    string(REPLACE "\r\n" "\n" files "${files}")
    string(REPLACE "\n" ";" files "${files}")
    foreach(file IN LISTS files)
      if(NOT "${file}" STREQUAL "")
        string(REPLACE "${open}" "[" file "${file}")
        string(REPLACE "${close}" "]" file "${file}")
        string(REPLACE "${backslash}" "\\" file "${file}")
        if("${file}" IS_NEWER_THAN "${OUTPUT}")
          set(changed TRUE)
          break()
        endif()
      endif()
    endforeach()
  endif()
endif()
if(changed OR NOT EXISTS "${STAMP}")
  file(TOUCH "${STAMP}")
endif()
