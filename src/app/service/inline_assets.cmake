# Writes a page with the style sheets and scripts it links to written into it:
# <link rel="stylesheet" href="F"> becomes <style> with F's text and
# <script src="F"></script> becomes <script> with F's text, F read from the
# page's folder. ASSETS names, comma-separated, the files the page must link
# to (the build's dependencies); a file linked and not named, or named and not
# linked, stops the build. LIBRARIES names, comma-separated, folders outside
# the page's: with leaflet=/usr/share/javascript/leaflet, F = leaflet/x.js is
# read from /usr/share/javascript/leaflet/x.js.
# Called at build time:
#   cmake -DINPUT=page -DOUTPUT=page -DASSETS=a.css,b.js [-DLIBRARIES=name=folder,...] -P inline_assets.cmake
cmake_minimum_required(VERSION 3.25)  # the project's; script mode sets no policies otherwise
file(READ "${INPUT}" page)
get_filename_component(folder "${INPUT}" DIRECTORY)
string(REPLACE "," ";" expected "${ASSETS}")
string(REPLACE "," ";" libraries "${LIBRARIES}")

# The file a linked name stands for.
function(asset_path name out)
  foreach(library IN LISTS libraries)
    string(REGEX REPLACE "=.*" "" prefix "${library}")
    string(REGEX REPLACE "^[^=]*=" "" library_folder "${library}")
    string(LENGTH "${prefix}/" length)
    string(SUBSTRING "${name}" 0 ${length} head)
    if(head STREQUAL "${prefix}/")
      string(SUBSTRING "${name}" ${length} -1 rest)
      set(${out} "${library_folder}/${rest}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${out} "${folder}/${name}" PARENT_SCOPE)
endfunction()

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
    asset_path("${name}" file)
    if(NOT EXISTS "${file}")
      message(FATAL_ERROR "${INPUT} links to ${name}, but ${file} is missing")
    endif()
    file(READ "${file}" text)
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
