# Build steps of resweaver_add_resources() that need more than one process, run as
#
#   cmake -DMODE=<mode> ... -P resweaverBuildStep.cmake
#
# Depfiles name files whose names Ninja or make cannot read through symbolic links below LINKS,
# and with -DALL_LINKS=ON (for Makefiles) every file (see write_depfile). Their target is TARGET,
# the step's output as the build tool names it.
#
# MODE=tool -DTOOL=<resweaver> -DARGUMENTS=<file> -DDEPFILE=<file> -DSTAMP=<file> -DLINKS=<folder>
#   runs the tool with the arguments that <file> sets (a script that sets `arguments`), and writes
#   the depfile of its stamp: the template and every folder that the tool walked.
# MODE=update_source -DTOOL=<resweaver> -DQRC=<file.qrc> -DGROUPS=<file> -DSTAMP=<file>
#      [-DDEPFILE=<file> -DLINKS=<folder>]
#   brings the groups of the committed .qrc up to date in place: GROUPS is a script that sets
#   `groups` to the argument files of the groups. The depfile names what all the runs read, for
#   the stamp. When the .qrc cannot be written, the message says that it is out of date and how to
#   bring it up to date.
# MODE=run -DTOOL=<resweaver> -DARGUMENTS=<file> -DSTAMP=<file>
#   runs the tool once and touches the stamp, for generators that read no depfile.
# MODE=rcc_depfile -DRCC=<rcc> -DQRC=<file.qrc> -DOUTPUT=<rcc's output> -DDEPFILE=<file>
#      -DLINKS=<folder>
#   writes the depfile of rcc's output from rcc --list, which names every file that rcc reads from
#   the .qrc (Qt 5's rcc --depfile garbles non-ASCII names, and neither escapes what Ninja and
#   make cannot read).
# MODE=compare -DRCC=<rcc> -DQRC=<file.qrc> -DOUTPUT=<rcc's output> -DSTAMP=<file>
#   for generators that read no depfile: touches STAMP when the .qrc or a file that rcc reads from
#   it is newer than rcc's output (or it is missing), so that rcc's rule, which depends on STAMP,
#   runs exactly then. The build tool reads STAMP's time only after this step.

# Runs the tool with the arguments that <file> sets; stops with its message on failure.
function(run_tool file)
  include("${file}")
  execute_process(COMMAND "${TOOL}" ${ARGN} ${arguments} RESULT_VARIABLE result
    OUTPUT_VARIABLE output)
  if(NOT result EQUAL 0)
    string(STRIP "${output}" output)
    list(GET arguments -4 root)
    list(GET arguments -3 rcname)
    if(MODE STREQUAL "update_source" AND output MATCHES "^cannot (write|lock) file")
      message(FATAL_ERROR "resweaver: ${output}\n${QRC} is out of date and cannot be written "
        "by the build. Bring it up to date by hand (resweaver ${arguments}) where it can be "
        "written, or build without UPDATE_SOURCE, which writes the .qrc into the build folder.")
    endif()
    message(FATAL_ERROR "resweaver ${root}/${rcname}.qrc: ${output}")
  endif()
endfunction()

# Lists of paths stand in for ';' and '\' by control characters that file names do not use, so
# that no element is split or changed: <variable> gets <text>'s lines so.
function(path_list variable text)
  string(ASCII 3 backslash)
  string(ASCII 4 semicolon)
  string(REPLACE "\\" "${backslash}" text "${text}")
  string(REPLACE ";" "${semicolon}" text "${text}")
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REGEX REPLACE "\n+$" "" text "${text}")
  string(REPLACE "\n" ";" text "${text}")
  set(${variable} "${text}" PARENT_SCOPE)
endfunction()

# Lists the files that rcc reads from the .qrc in <variable> (absolute paths, a path list); false
# when rcc cannot list them (a listed file is missing), which rcc's own rule then reports.
function(rcc_files variable)
  execute_process(COMMAND "${RCC}" --list "${QRC}" RESULT_VARIABLE result
    OUTPUT_VARIABLE lines ERROR_QUIET)
  if(NOT result EQUAL 0)
    set(${variable} FALSE PARENT_SCOPE)
    return()
  endif()
  path_list(files "${lines}")
  set(${variable} "${files}" PARENT_SCOPE)
endfunction()

# Writes the depfile <file>: <target> depends on the paths that follow. Each path is written as
# Ninja (1.11) and make read it after CMake has passed it on, a space escaped with a backslash.
# Ninja ends a name at any other ASCII byte but letters, digits and +,/_.~!@{}) -, with no escape
# for most (& ' ; among them), make takes a ';' for the start of a recipe, and CMake (3.25) passes
# '#' and '$' on to Ninja unescaped: a path that holds any of them is named through a symbolic
# link below LINKS instead, which both follow to the path's time (and find missing once it is
# gone). With ALL_LINKS, every path is named through a link: CMake's Makefiles keep the
# dependencies of every depfile a step ever wrote, and a deleted one would make the step run at
# every build, so a link that names nothing now is turned to LINKS/gone, an old empty file. Where
# no link can be made, a path is named by one that never exists, so that the step runs at every
# build rather than miss a change.
function(write_depfile file target)
  file(MAKE_DIRECTORY "${LINKS}")
  if(NOT EXISTS "${LINKS}/gone")
    file(TOUCH "${LINKS}/gone")
  endif()
  string(ASCII 1 first)
  string(ASCII 127 last)
  string(ASCII 3 backslash)
  string(ASCII 4 semicolon)
  string(REPLACE " " "\\ " text "${target}")
  string(APPEND text ":")
  foreach(path IN LISTS ARGN)
    string(REPLACE "${backslash}" "\\" path "${path}")
    string(REPLACE "${semicolon}" ";" path "${path}")
    string(REGEX REPLACE "[-A-Za-z0-9+,/_.~!@{}) ]" "" rest "${path}")
    if(ALL_LINKS OR rest MATCHES "[${first}-${last}]")
      string(MD5 hash "${path}")
      set(kept_${hash} TRUE)
      set(link "${LINKS}/${hash}")
      file(CREATE_LINK "${path}" "${link}" RESULT failed SYMBOLIC)
      if(failed)
        set(link "${LINKS}/${hash}/never-there")
      endif()
      set(path "${link}")
    endif()
    string(REPLACE " " "\\ " path "${path}")
    string(APPEND text " \\\n  ${path}")
  endforeach()
  file(WRITE "${file}" "${text}\n")
  if(ALL_LINKS)
    file(GLOB links RELATIVE "${LINKS}" LIST_DIRECTORIES true "${LINKS}/*")
    foreach(link IN LISTS links)
      if(NOT kept_${link} AND NOT link STREQUAL "gone")
        file(CREATE_LINK "${LINKS}/gone" "${LINKS}/${link}" SYMBOLIC)
      endif()
    endforeach()
  endif()
endfunction()

# Appends to <variable> the paths that a run of the tool read, from the depfile it wrote: the
# template and every folder it walked, with Make's escapes undone. When the tool could not write a
# name there, every folder below the HTML folder instead (the `arguments` of the run name it).
function(tool_dependencies variable depfile)
  file(READ "${depfile}" text)
  if(text MATCHES "unwritable-name-in-depfile")
    list(GET arguments -4 root)
    list(GET arguments -3 rcname)
    list(GET arguments -2 html)
    get_filename_component(template "${rcname}.qrc" ABSOLUTE BASE_DIR "${root}")
    get_filename_component(html "${html}" ABSOLUTE BASE_DIR "${root}")
    file(GLOB_RECURSE entries LIST_DIRECTORIES true "${html}/*")
    set(lines "${template}\n${html}\n")
    foreach(entry IN LISTS entries)
      if(IS_DIRECTORY "${entry}")
        string(APPEND lines "${entry}\n")
      endif()
    endforeach()
    path_list(paths "${lines}")
  else()
    # "<stamp>: <dependencies>", then an empty line and an empty rule for each dependency. The
    # tool writes only names whose bytes need no more than a backslash before a space, '#' or ':',
    # or a doubled '$', and never a ';' or a bracket.
    string(FIND "${text}" ": " colon)
    math(EXPR colon "${colon} + 2")
    string(SUBSTRING "${text}" ${colon} -1 text)
    string(FIND "${text}" "\n\n" end)
    string(SUBSTRING "${text}" 0 ${end} text)
    string(ASCII 1 space)
    string(REPLACE "\\\n" " " text "${text}")
    string(REPLACE "\\ " "${space}" text "${text}")
    string(REPLACE "\\#" "#" text "${text}")
    string(REPLACE "\\:" ":" text "${text}")
    string(REPLACE "$$" "$" text "${text}")
    string(STRIP "${text}" text)
    string(REGEX REPLACE "[ \t\r\n]+" "\n" text "${text}")
    string(REPLACE "${space}" " " text "${text}")
    path_list(paths "${text}")
  endif()
  set(${variable} ${${variable}} ${paths} PARENT_SCOPE)
endfunction()

if(MODE STREQUAL "update_source")
  include("${GROUPS}")
  set(dependencies)
  set(count 0)
  foreach(group IN LISTS groups)
    if(DEFINED DEPFILE)
      math(EXPR count "${count} + 1")
      run_tool("${group}" --depfile "${DEPFILE}.${count}" --stamp "${STAMP}")
      include("${group}")
      tool_dependencies(dependencies "${DEPFILE}.${count}")
      file(REMOVE "${DEPFILE}.${count}")
    else()
      run_tool("${group}")
    endif()
  endforeach()
  # The tool stamps each run, the last one after its own write of the .qrc.
  if(DEFINED DEPFILE)
    write_depfile("${DEPFILE}" "${TARGET}" ${dependencies})
  else()
    file(TOUCH "${STAMP}")
  endif()
elseif(MODE STREQUAL "tool")
  run_tool("${ARGUMENTS}" --depfile "${DEPFILE}" --stamp "${STAMP}")
  include("${ARGUMENTS}")
  set(dependencies)
  tool_dependencies(dependencies "${DEPFILE}")
  write_depfile("${DEPFILE}" "${TARGET}" ${dependencies})
elseif(MODE STREQUAL "run")
  run_tool("${ARGUMENTS}")
  file(TOUCH "${STAMP}")
elseif(MODE STREQUAL "rcc_depfile")
  rcc_files(files)
  if(files STREQUAL "FALSE")
    message(FATAL_ERROR "rcc cannot list the files of ${QRC}")
  endif()
  write_depfile("${DEPFILE}" "${TARGET}" ${files})
elseif(MODE STREQUAL "compare")
  # IS_NEWER_THAN also holds when the times are equal or the output is missing, so a change in
  # the output's own clock tick is not missed.
  set(changed FALSE)
  if("${QRC}" IS_NEWER_THAN "${OUTPUT}")
    set(changed TRUE)
  else()
    rcc_files(files)
    if(files STREQUAL "FALSE")
      set(changed TRUE)
    endif()
    foreach(file IN LISTS files)
      if("${file}" IS_NEWER_THAN "${OUTPUT}")
        set(changed TRUE)
        break()
      endif()
    endforeach()
  endif()
  if(changed OR NOT EXISTS "${STAMP}")
    file(TOUCH "${STAMP}")
  endif()
else()
  message(FATAL_ERROR "resweaverBuildStep.cmake: unknown MODE ${MODE}")
endif()
