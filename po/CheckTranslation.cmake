# cmake -DPO=zh_CN.po -DPOT=norvo.pot -P CheckTranslation.cmake: msgfmt --check passes, every
# message of the template is translated (none fuzzy or empty), and each translation keeps the
# placeholders (%1, %2, %lld) of its original.
# With SOURCES_LIST (a file naming the sources, one a line), and DESKTOP_ENTRY and METAINFO
# (with METAINFO_ITS, its rules), the template is extracted from the sources afresh and must name no message the committed one lacks; the translation is then
# checked against the fresh one.
if(SOURCES_LIST)
  file(STRINGS "${SOURCES_LIST}" sources)
  execute_process(COMMAND "${XGETTEXT}" --from-code=UTF-8 --keyword=_ --keyword=N_ --keyword=C_:1c,2 -o "${FRESH_POT}" ${sources}
                  WORKING_DIRECTORY "${SOURCE_DIR}" RESULT_VARIABLE failed ERROR_VARIABLE why)
  if(NOT failed AND DESKTOP_ENTRY)
    execute_process(COMMAND "${XGETTEXT}" --join-existing --language=Desktop -o "${FRESH_POT}" "${DESKTOP_ENTRY}"
                    WORKING_DIRECTORY "${SOURCE_DIR}" RESULT_VARIABLE failed ERROR_VARIABLE why)
  endif()
  if(NOT failed AND METAINFO)
    execute_process(COMMAND "${XGETTEXT}" --join-existing --its=${METAINFO_ITS} -o "${FRESH_POT}" "${METAINFO}"
                    WORKING_DIRECTORY "${SOURCE_DIR}" RESULT_VARIABLE failed ERROR_VARIABLE why)
  endif()
  if(failed)
    message(FATAL_ERROR "xgettext failed:\n${why}")
  endif()
  execute_process(COMMAND msgcmp --use-untranslated "${POT}" "${FRESH_POT}" RESULT_VARIABLE stale ERROR_VARIABLE why)
  if(stale)
    message(FATAL_ERROR "po/norvo.pot is older than the sources' messages (cmake --build build --target norvo-pot):\n${why}")
  endif()
  set(POT "${FRESH_POT}")
endif()
execute_process(COMMAND msgfmt --check --statistics -o /dev/null "${PO}" RESULT_VARIABLE failed ERROR_VARIABLE stats)
if(failed)
  message(FATAL_ERROR "msgfmt --check failed for ${PO}:\n${stats}")
endif()
if(stats MATCHES "fuzzy|untranslated")
  message(FATAL_ERROR "${PO} is not complete: ${stats}")
endif()
execute_process(COMMAND msgcmp "${PO}" "${POT}" RESULT_VARIABLE missing ERROR_VARIABLE why)
if(missing)
  message(FATAL_ERROR "${PO} lacks messages of the template:\n${why}")
endif()
execute_process(COMMAND msgattrib --no-obsolete "${PO}" OUTPUT_VARIABLE text)
# A semicolon would cut a message in two: CMake's lists are separated by them.
string(REPLACE ";" "<semicolon>" text "${text}")
string(REGEX MATCHALL "msgid \"[^\n]*\"(\n\"[^\n]*\")*\nmsgstr \"[^\n]*\"(\n\"[^\n]*\")*" pairs "${text}")
foreach(pair ${pairs})
  string(REGEX MATCH "msgid (\"[^\n]*\"(\n\"[^\n]*\")*)" id "${pair}")
  string(REGEX MATCH "msgstr (\"[^\n]*\"(\n\"[^\n]*\")*)" str "${pair}")
  foreach(mark "%1" "%2" "%3" "%lld")
    string(FIND "${id}" "${mark}" inId)
    string(FIND "${str}" "${mark}" inStr)
    if(NOT inId EQUAL -1 AND inStr EQUAL -1)
      message(FATAL_ERROR "${PO}: a translation lost ${mark}:\n${pair}")
    endif()
  endforeach()
endforeach()
