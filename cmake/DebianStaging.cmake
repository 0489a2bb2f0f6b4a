# Run by CPack after it installed the files into its staging folder: Debian wants the man page
# and the changelog compressed, reproducibly (gzip -n).
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_DIRECTORY}/*.1")
foreach(page IN LISTS pages)
  execute_process(COMMAND gzip -n -9 -f "${page}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
file(GLOB_RECURSE copyrights "${CPACK_TEMPORARY_DIRECTORY}/copyright")
foreach(copyright IN LISTS copyrights)
  get_filename_component(doc "${copyright}" DIRECTORY)
  # With fixed permissions: a checkout's own (0664 under some umasks) would not pass lintian.
  file(COPY "${RESWEAVER_SOURCE_DIR}/debian/changelog" DESTINATION "${doc}"
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  execute_process(COMMAND gzip -n -9 -f "${doc}/changelog" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
