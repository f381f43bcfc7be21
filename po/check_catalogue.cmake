# cmake -DSOURCE_DIR=... -DTEMPLATE=... -P check_catalogue.cmake
# Fails when a message marked with Tr or TrFormat in src/ has no translation
# in po/zh_CN.po, or when the catalogue holds a message the sources no longer
# mark (scripts/update-catalogue brings it up to date).
file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/src/*.cpp ${SOURCE_DIR}/src/*.hpp)
list(SORT sources)
execute_process(
  COMMAND xgettext --from-code=UTF-8 --language=C++ --keyword=Tr --keyword=TrFormat --no-location -o ${TEMPLATE}
          ${sources}
  WORKING_DIRECTORY ${SOURCE_DIR} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "xgettext failed: ${status}")
endif()
set(catalogue ${SOURCE_DIR}/po/zh_CN.po)
# Every marked message is in the catalogue and translated.
execute_process(COMMAND msgcmp ${catalogue} ${TEMPLATE} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "po/zh_CN.po lacks the translations named above: run scripts/update-catalogue and translate")
endif()
# Every message of the catalogue is still marked.
execute_process(COMMAND msgcmp --use-untranslated ${TEMPLATE} ${catalogue} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "po/zh_CN.po holds the messages named above that the sources no longer mark")
endif()
