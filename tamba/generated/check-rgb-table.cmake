# SPDX-License-Identifier: LGPL-2.1-or-later
# Run by the rgb-table-generated test: the generator, run again, must give the committed file.
execute_process(COMMAND ${PYTHON} ${SRC}/scripts/gen-rgb-table.py ${SRC}/data/rgb-x11r6.txt ${OUT}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "gen-rgb-table.py failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT} ${SRC}/tamba/generated/rgb-table.cc
                RESULT_VARIABLE diff)
if(NOT diff EQUAL 0)
  message(FATAL_ERROR "tamba/generated/rgb-table.cc differs from what scripts/gen-rgb-table.py makes")
endif()
