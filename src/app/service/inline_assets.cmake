# Writes a page with the style sheets and scripts it links to written into it:
# <link rel="stylesheet" href="F"> becomes <style> with F's text and
# <script src="F"></script> becomes <script> with F's text, F read from the
# page's folder. ASSETS names, comma-separated, the files the page must link
# to (the build's dependencies); a file linked and not named, or named and not
# linked, stops the build.
# Called at build time: cmake -DINPUT=page -DOUTPUT=page -DASSETS=a.css,b.js -P inline_assets.cmake
cmake_minimum_required(VERSION 3.25)  # the project's; script mode sets no policies otherwise
file(READ "${INPUT}" page)
get_filename_component(folder "${INPUT}" DIRECTORY)
string(REPLACE "," ";" expected "${ASSETS}")

set(linked "")
foreach(kind style script)
  if(kind STREQUAL "style")
    set(pattern "<link rel=\"stylesheet\" href=\"([^\"]+)\">")
  else()
    set(pattern "<script src=\"([^\"]+)\"></script>")
  endif()
  string(REGEX MATCHALL "${pattern}" tags "${page}")
  foreach(tag IN LISTS tags)
    string(REGEX REPLACE "${pattern}" "\\1" name "${tag}")
    if(NOT name IN_LIST expected)
      message(FATAL_ERROR "${INPUT} links to ${name}, which the build does not list among its assets")
    endif()
    list(APPEND linked "${name}")
    file(READ "${folder}/${name}" text)
    string(TOLOWER "${text}" lowered)
    string(FIND "${lowered}" "</${kind}" closes)
    if(NOT closes EQUAL -1)
      message(FATAL_ERROR "${name} contains </${kind}, which would end the element it is written into")
    endif()
    string(REPLACE "${tag}" "<${kind}>\n${text}</${kind}>" page "${page}")
  endforeach()
endforeach()
foreach(name IN LISTS expected)
  if(NOT name IN_LIST linked)
    message(FATAL_ERROR "${INPUT} does not link to ${name}, which the build lists among its assets")
  endif()
endforeach()

file(WRITE "${OUTPUT}.tmp" "${page}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
