# cmake -DSOURCE_DIR=... -P CheckIncludes.cmake: fails when a source file includes a header by a
# path that climbs out of its folder ("../"), which would reach into another room's files.
file(GLOB_RECURSE sources "${SOURCE_DIR}/Norvo/*.cpp" "${SOURCE_DIR}/Norvo/*.hpp" "${SOURCE_DIR}/NorvoCore/*.cpp"
     "${SOURCE_DIR}/NorvoCore/*.hpp" "${SOURCE_DIR}/tools/*.cpp" "${SOURCE_DIR}/bench/*.cpp")
set(found "")
foreach(source IN LISTS sources)
  file(STRINGS "${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]\\.\\./")
  foreach(line IN LISTS lines)
    string(APPEND found "  ${source}: ${line}\n")
  endforeach()
endforeach()
if(found)
  message(FATAL_ERROR "includes that climb out of their folder:\n${found}")
endif()
list(LENGTH sources count)
message(STATUS "${count} files, every include within its room")
