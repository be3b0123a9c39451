execute_process(COMMAND ${PYTHON} ${SRC}/scripts/gen-rgb-table.py ${SRC}/data/rgb-x11r6.txt ${OUT}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "gen-rgb-table.py failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT} ${SRC}/tamba/tamba-rgb-txt.cc
                RESULT_VARIABLE diff)
if(NOT diff EQUAL 0)
  message(FATAL_ERROR "tamba/tamba-rgb-txt.cc differs from what scripts/gen-rgb-table.py makes")
endif()
