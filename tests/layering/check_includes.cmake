cmake_minimum_required(VERSION 3.20)

# Keeps the modules' floors apart by what their files include, directly or
# through other headers of ours:
#   src/regdefs    the registry's vocabulary: includes nothing of ours but itself;
#   src/regstore   the store and its tests: nothing of the floors above it
#                  (the platform layer, TRegistry, the importer, the program,
#                  common, the regstore command);
#   regstore/regstore.h and regstore/store_check.h, the store's public
#                  headers (the registry functions and the owner's operations;
#                  the check of a store file), do not bring SQLite's header to
#                  their users;
#   the store's users (the platform layer, the regstore command) include of
#                  the store only its public headers.
# Run as: cmake -DSOURCE_DIR=<the source tree> -P check_includes.cmake
# Prints every include that breaks a rule with the chain that leads to it, and
# fails when there is one.

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "SOURCE_DIR is not set")
endif()
set(src ${SOURCE_DIR}/src)

# Each rule: a folder below src/, and the folders below src/ that its files
# may not reach.
set(rules
    "regdefs:platform,registry,import,app,common,regstore,regstore_tool,testing"
    "regstore:platform,registry,import,app,common,regstore_tool")

# Each rule: a header of ours, and the system headers it may not reach.
set(header_rules "regstore/regstore.h:sqlite3.h" "regstore/store_check.h:sqlite3.h")

# Each rule: folders below src/, and the only headers of the store that their
# files may include.
set(store_api_rules
    "platform,regstore_tool:regstore/regstore.h,regstore/names.h,regstore/store_check.h")

set(faults 0)

# The files below src/ that `start` reaches through its includes of ours
# (itself first), into `out`; for each, via_<file> names the file that
# included it first.
function(reached start out)
  set(queue ${start})
  set(seen)
  while(queue)
    list(POP_FRONT queue file)
    if(file IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${file})
    file(STRINGS ${src}/${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" included "${line}")
      # Generated headers (the version) are not below src/.
      if(EXISTS ${src}/${included} AND NOT included IN_LIST seen)
        if(NOT DEFINED via_${included})
          set(via_${included} ${file})
          set(via_${included} ${file} PARENT_SCOPE)
        endif()
        list(APPEND queue ${included})
      endif()
    endforeach()
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

# Forgets the chains of the last start: each start follows its own includes
# afresh.
macro(forget_chains)
  get_cmake_property(vars VARIABLES)
  foreach(var IN LISTS vars)
    if(var MATCHES "^via_")
      unset(${var})
    endif()
  endforeach()
endmacro()

# The chain of includes from `start` to `file`, as "a -> b -> c".
function(chain start file out)
  set(text ${file})
  while(NOT file STREQUAL start AND DEFINED via_${file})
    set(file ${via_${file}})
    set(text "${file} -> ${text}")
  endwhile()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

foreach(rule IN LISTS rules)
  string(REPLACE ":" ";" parts "${rule}")
  list(GET parts 0 folder)
  list(GET parts 1 forbidden)
  string(REPLACE "," ";" forbidden "${forbidden}")
  file(GLOB_RECURSE files RELATIVE ${src} ${src}/${folder}/*.h ${src}/${folder}/*.cc)
  if(NOT files)
    message(SEND_ERROR "src/${folder} holds no sources")
    math(EXPR faults "${faults} + 1")
  endif()
  foreach(start IN LISTS files)
    forget_chains()
    reached(${start} files_reached)
    foreach(file IN LISTS files_reached)
      string(REGEX MATCH "^[^/]+" top "${file}")
      if(top IN_LIST forbidden)
        chain(${start} ${file} text)
        message("src/${folder} may not include ${top}/: ${text}")
        math(EXPR faults "${faults} + 1")
      endif()
    endforeach()
  endforeach()
endforeach()

foreach(rule IN LISTS header_rules)
  string(REPLACE ":" ";" parts "${rule}")
  list(GET parts 0 start)
  list(GET parts 1 system_headers)
  string(REPLACE "," ";" system_headers "${system_headers}")
  forget_chains()
  reached(${start} files_reached)
  foreach(file IN LISTS files_reached)
    foreach(header IN LISTS system_headers)
      file(STRINGS ${src}/${file} hits REGEX "^[ \t]*#[ \t]*include[ \t]*<${header}>")
      if(hits)
        chain(${start} ${file} text)
        message("${start} may not bring in <${header}>: ${text}")
        math(EXPR faults "${faults} + 1")
      endif()
    endforeach()
  endforeach()
endforeach()

foreach(rule IN LISTS store_api_rules)
  string(REPLACE ":" ";" parts "${rule}")
  list(GET parts 0 folders)
  list(GET parts 1 allowed)
  string(REPLACE "," ";" folders "${folders}")
  string(REPLACE "," ";" allowed "${allowed}")
  foreach(folder IN LISTS folders)
    file(GLOB_RECURSE files RELATIVE ${src} ${src}/${folder}/*.h ${src}/${folder}/*.cc)
    foreach(file IN LISTS files)
      file(STRINGS ${src}/${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"regstore/")
      foreach(line IN LISTS lines)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" included
                             "${line}")
        if(NOT included IN_LIST allowed)
          message("${file} may include of the store only its public headers, not ${included}")
          math(EXPR faults "${faults} + 1")
        endif()
      endforeach()
    endforeach()
  endforeach()
endforeach()

if(faults GREATER 0)
  message(FATAL_ERROR "${faults} include(s) break the floors of the modules")
endif()
message("The includes of the store, its users and the registry's vocabulary keep to their floors")
