# Checks that no file of the library includes a header of a folder above its own layer, and
# that no static part links a part above its own layer.
#
#   cmake -DSOURCE_DIR=<tree> [-DLAYERS_FILE=<file>] [-DLIST_CROSSINGS=ON] -P check_layers.cmake
#
# The layers and the crossings still allowed come from LAYERS_FILE (by default
# <tree>/src/layers.cmake), which sets
#   HLC_LAYERS           the layers, lowest first; each entry one folder or several
#                        folders joined by "|" (folders of one layer may include each
#                        other) or by "&" (rooms: folders of one layer that may not
#                        include or link each other, only the layers below them);
#   HLC_LAYER_CROSSINGS  the upward includes, and the includes between rooms, that are
#                        still allowed, each "<file>:<included header as written>";
#   HLC_LINK_CROSSINGS   the upward links between the static parts, and the links between
#                        rooms, that are still allowed, each "<part>:<linked part>".
# Headers are found by their name in every folder of src/, platform/ and include/ (the
# library includes them by name: each part's folder is on the include path of the parts
# above it).  The check fails for
#   - an include of a header from a higher layer, or from a room beside its own, that is
#     not listed,
#   - an include of a header from a folder that is no layer (a simulator folder),
#   - a file in a folder that is no layer,
#   - a static part (qsrf_glob_library in a folder's CMakeLists.txt) that links a part of a
#     higher layer, or of a room beside its own, and is not listed,
#   - a listed crossing that no longer occurs (the lists only shrink).
# With LIST_CROSSINGS=ON it prints every upward include and link in the form of the lists
# instead.
cmake_minimum_required(VERSION 3.20)

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "check_layers: SOURCE_DIR is not set")
endif()
if(NOT LAYERS_FILE)
  set(LAYERS_FILE ${SOURCE_DIR}/src/layers.cmake)
endif()
include(${LAYERS_FILE})

# Rank of each folder; the folders of a layer of rooms are marked as rooms.
set(rank 0)
foreach(layer IN LISTS HLC_LAYERS)
  set(rooms OFF)
  if(layer MATCHES "&")
    set(rooms ON)
  endif()
  string(REGEX REPLACE "[|&]" ";" folders "${layer}")
  foreach(folder IN LISTS folders)
    set("rank_${folder}" ${rank})
    set("room_${folder}" ${rooms})
  endforeach()
  math(EXPR rank "${rank} + 1")
endforeach()

# Folder of each header name.
file(GLOB_RECURSE headers RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/src/*.h ${SOURCE_DIR}/platform/*.h
     ${SOURCE_DIR}/include/*.h)
foreach(h IN LISTS headers)
  get_filename_component(name ${h} NAME)
  get_filename_component(dir ${h} DIRECTORY)
  if(DEFINED "folder_${name}")
    message(SEND_ERROR "check_layers: two headers are named ${name}: ${folder_${name}} and ${dir}")
  endif()
  set("folder_${name}" ${dir})
endforeach()

set(failures 0)
set(found "")
file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/src/*.h ${SOURCE_DIR}/src/*.c
     ${SOURCE_DIR}/src/*.cpp)
list(SORT sources)
foreach(source IN LISTS sources)
  get_filename_component(dir ${source} DIRECTORY)
  if(NOT DEFINED "rank_${dir}")
    message("${source}: its folder ${dir} is no layer of src/layers.cmake")
    math(EXPR failures "${failures} + 1")
    continue()
  endif()
  set(own ${rank_${dir}})
  file(STRINGS ${SOURCE_DIR}/${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" included "${line}")
    get_filename_component(name ${included} NAME)
    if(NOT DEFINED "folder_${name}")
      message("${source}: includes \"${included}\", which is no header of src/, platform/ or include/")
      math(EXPR failures "${failures} + 1")
      continue()
    endif()
    set(target ${folder_${name}})
    if(NOT DEFINED "rank_${target}")
      message("${source}: includes \"${included}\" of ${target}, which is no layer the library may use")
      math(EXPR failures "${failures} + 1")
      continue()
    endif()
    set(where "")
    if(rank_${target} GREATER own)
      set(where "a layer above its own")
    elseif(rank_${target} EQUAL own AND room_${dir} AND NOT target STREQUAL dir)
      set(where "a room beside its own")
    endif()
    if(where)
      set(crossing "${source}:${included}")
      list(APPEND found ${crossing})
      if(LIST_CROSSINGS)
        message("  ${crossing}")
      elseif(NOT crossing IN_LIST HLC_LAYER_CROSSINGS)
        message("${source}: includes \"${included}\" of ${target}, ${where} (${dir})")
        math(EXPR failures "${failures} + 1")
      endif()
    endif()
  endforeach()
endforeach()

# The static parts: each folder's qsrf_glob_library(NAME ... LIBS ...) may link only parts of
# its own layer and the layers below it.
set(links_found "")
file(GLOB_RECURSE lists RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/src/CMakeLists.txt ${SOURCE_DIR}/src/*/CMakeLists.txt)
set(parts "")
foreach(list IN LISTS lists)
  get_filename_component(dir ${list} DIRECTORY)
  file(READ ${SOURCE_DIR}/${list} text)
  string(REGEX MATCHALL "qsrf_glob_library\\([^)]*\\)" calls "${text}")
  foreach(call IN LISTS calls)
    string(REGEX REPLACE "^qsrf_glob_library\\(|\\)$" "" args "${call}")
    string(REGEX REPLACE "[ \t\r\n]+" ";" args "${args}")
    list(GET args 0 part)
    set("part_folder_${part}" ${dir})
    set(libs "")
    set(in_libs OFF)
    foreach(arg IN LISTS args)
      if(arg STREQUAL "LIBS")
        set(in_libs ON)
      elseif(arg MATCHES "^(EXCLUDE|SHARED)$")
        set(in_libs OFF)
      elseif(in_libs AND NOT arg STREQUAL "")
        list(APPEND libs ${arg})
      endif()
    endforeach()
    set("part_libs_${part}" ${libs})
    list(APPEND parts ${part})
  endforeach()
endforeach()
foreach(part IN LISTS parts)
  set(dir ${part_folder_${part}})
  if(NOT DEFINED "rank_${dir}")
    continue()   # (its folder's files are reported above)
  endif()
  foreach(lib IN LISTS part_libs_${part})
    if(NOT DEFINED "part_folder_${lib}")
      continue()   # a platform target or an interface of the base
    endif()
    set(target ${part_folder_${lib}})
    if(NOT DEFINED "rank_${target}")
      continue()
    endif()
    set(where "")
    if(rank_${target} GREATER rank_${dir})
      set(where "a layer above its own")
    elseif(rank_${target} EQUAL rank_${dir} AND room_${dir} AND NOT target STREQUAL dir)
      set(where "a room beside its own")
    endif()
    if(where)
      set(crossing "${part}:${lib}")
      list(APPEND links_found ${crossing})
      if(LIST_CROSSINGS)
        message("  link ${crossing}")
      elseif(NOT crossing IN_LIST HLC_LINK_CROSSINGS)
        message("${part} (${dir}) links ${lib} of ${target}, ${where}")
        math(EXPR failures "${failures} + 1")
      endif()
    endif()
  endforeach()
endforeach()

if(NOT LIST_CROSSINGS)
  foreach(crossing IN LISTS HLC_LINK_CROSSINGS)
    if(NOT crossing IN_LIST links_found)
      message("${crossing}: listed as an upward link, but no longer made: remove it from the list")
      math(EXPR failures "${failures} + 1")
    endif()
  endforeach()
  foreach(crossing IN LISTS HLC_LAYER_CROSSINGS)
    if(NOT crossing IN_LIST found)
      message("${crossing}: listed as an upward include, but no longer made: remove it from the list")
      math(EXPR failures "${failures} + 1")
    endif()
  endforeach()
endif()

list(LENGTH found crossings)
list(LENGTH HLC_LAYER_CROSSINGS allowed)
if(failures GREATER 0)
  message(FATAL_ERROR "check_layers: ${failures} fault(s) in the layering of ${SOURCE_DIR}/src")
endif()
list(LENGTH HLC_LINK_CROSSINGS allowed_links)
message("check_layers: no file includes upward or between rooms beyond the ${allowed} listed crossing(s), "
        "no part links so beyond the ${allowed_links} listed link(s)")
