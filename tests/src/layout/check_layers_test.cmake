# Runs the layering check on a small tree with one fault of each kind and checks that it
# fails and names each fault, and nothing else.
#   cmake -DCHECKER=<check_layers.cmake> -DTREE=<tree> -P check_layers_test.cmake
execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${TREE} -P ${CHECKER}
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(text "${out}${err}")
if(result EQUAL 0)
  message(FATAL_ERROR "the check passed a tree with faults:\n${text}")
endif()
set(expected
  "src/low/upward.cpp: includes \"high.h\" of src/high, a layer above its own (src/low)"
  "src/low/sim.cpp: includes \"simonly.h\" of platform/sim, which is no layer the library may use"
  "src/low/gone.cpp:high.h: listed as an upward include, but no longer made"
  "src/stray/stray.cpp: its folder src/stray is no layer"
  "t_low (src/low) links t_high of src/high, a layer above its own"
  "t_gone:t_high: listed as an upward link, but no longer made"
  "src/right/across.cpp: includes \"left.h\" of src/left, a room beside its own (src/right)"
  "t_right (src/right) links t_left of src/left, a room beside its own"
  "check_layers: 8 fault(s) in the layering")
foreach(line IN LISTS expected)
  string(FIND "${text}" "${line}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the check did not report: ${line}\nIt reported:\n${text}")
  endif()
endforeach()
# The listed crossing, the downward includes and links, the system header pass.
foreach(line "allowed.cpp: includes" "src/high/high" "<vector>" "t_high (src/high)" "t_base" "src/left/left"
             "right.h\"" "t_left (src/left)" "t_right:t_low" "links t_low")
  string(FIND "${text}" "${line}" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "the check reported what is allowed (${line}):\n${text}")
  endif()
endforeach()
