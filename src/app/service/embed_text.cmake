# Writes a C++ header holding a text file as a std::string_view constant.
# Called at build time: cmake -DINPUT=file -DOUTPUT=header -DNAME=kName [-DSOURCE=what to edit] -P embed_text.cmake
if(NOT DEFINED SOURCE)
  set(SOURCE "${INPUT}")
endif()
file(READ "${INPUT}" content)
string(FIND "${content}" ")cuserver_asset\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} contains the raw string delimiter )cuserver_asset\"")
endif()
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${SOURCE}; edit that, not this.\n#pragma once\n\n#include <string_view>\n\n"
  "namespace cuserver {\n\ninline constexpr std::string_view ${NAME} = R\"cuserver_asset(${content})cuserver_asset\";\n\n}  // namespace cuserver\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
