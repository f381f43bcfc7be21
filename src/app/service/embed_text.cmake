# Writes a C++ header holding a text file as a std::string_view constant.
# Called at build time: cmake -DINPUT=file -DOUTPUT=header -DNAME=kName -P embed_text.cmake
file(READ "${INPUT}" content)
string(FIND "${content}" ")cuserver_asset\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} contains the raw string delimiter )cuserver_asset\"")
endif()
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT}; edit that file.\n#pragma once\n\n#include <string_view>\n\n"
  "namespace cuserver {\n\ninline constexpr std::string_view ${NAME} = R\"cuserver_asset(${content})cuserver_asset\";\n\n}  // namespace cuserver\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
