# Fails when a file in src/ includes a header of a library it may not depend on. The allowed
# edges below are the one written list of the library graph (docs/architecture.md draws it);
# a library may always include its own headers. Run: cmake -DSRC=<src dir> -P CheckLayers.cmake
#
# Each entry: "<folder under src>:<folders it may include, comma-separated>". A file belongs to
# the longest folder that contains it.
cmake_minimum_required(VERSION 3.25)

set(layers
  "core:"
  "qrcode:"
  "plist:"
  "qrcode/widgets:qrcode"
  "records:core"
  "useragent:"
  "backend:core,records"
  "inspect:core,records,plist"
  "manifest:core"
  "history:core,records,useragent"
  "storage:core,records"
  "app:core,records,backend,inspect,manifest,history,storage,qrcode"
  "session:core,records,backend,storage,app"
  "ui:core,records,useragent,backend,inspect,manifest,history,storage,qrcode,app,session"
  "cli:core,records,useragent,backend,inspect,manifest,history,storage,qrcode,app,session"
  "server:core,records,qrcode,useragent,plist"
)

if(NOT SRC)
  message(FATAL_ERROR "CheckLayers: set SRC to the src folder")
endif()

set(folders "")
foreach(entry IN LISTS layers)
  string(REPLACE ":" ";" parts "${entry}")
  list(GET parts 0 folder)
  list(LENGTH parts n)
  set(allowed "")
  if(n GREATER 1)
    list(GET parts 1 allowed)
    string(REPLACE "," ";" allowed "${allowed}")
  endif()
  list(APPEND folders "${folder}")
  set("allowed_${folder}" "${folder};${allowed}")
endforeach()

# The library a path under src/ belongs to (longest folder prefix), or "" for none.
function(owner path out)
  set(best "")
  string(LENGTH "" bestLength)
  foreach(folder IN LISTS folders)
    string(FIND "${path}" "${folder}/" at)
    if(at EQUAL 0)
      string(LENGTH "${folder}" len)
      if(len GREATER bestLength)
        set(best "${folder}")
        set(bestLength ${len})
      endif()
    endif()
  endforeach()
  set(${out} "${best}" PARENT_SCOPE)
endfunction()

get_filename_component(SRC "${SRC}" ABSOLUTE)
file(GLOB_RECURSE sources RELATIVE "${SRC}" "${SRC}/*.cpp" "${SRC}/*.h")
set(violations 0)
foreach(source IN LISTS sources)
  owner("${source}" from)
  if(from STREQUAL "")
    continue()
  endif()
  file(STRINGS "${SRC}/${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[^\"]*\"([^\"]+)\".*$" "\\1" header "${line}")
    if(NOT EXISTS "${SRC}/${header}")
      continue() # a header beside the file, or a generated one
    endif()
    owner("${header}" to)
    if(to STREQUAL "")
      continue()
    endif()
    list(FIND "allowed_${from}" "${to}" found)
    if(found EQUAL -1)
      message(SEND_ERROR "src/${source} (${from}) includes ${header} (${to}): not an allowed edge")
      math(EXPR violations "${violations} + 1")
    endif()
  endforeach()
endforeach()
if(violations GREATER 0)
  message(FATAL_ERROR "${violations} include(s) across a forbidden edge; see cmake/CheckLayers.cmake")
endif()
list(LENGTH sources count)
message(STATUS "layers: every include of ${count} files follows an allowed edge")
