# mirava_wine_left_out(FOLDER VAR): the files of tests/FOLDER that left_out.txt leaves out of the
# Windows build, as full paths. scripts/test-windows.sh prints the same list with its reasons.
set(MIRAVA_WINE_LEFT_OUT ${CMAKE_CURRENT_LIST_DIR}/left_out.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${MIRAVA_WINE_LEFT_OUT})

function(mirava_wine_left_out folder var)
  file(STRINGS ${MIRAVA_WINE_LEFT_OUT} entries REGEX "^files ${folder} ")
  set(left_out "")
  foreach(entry ${entries})
    string(REGEX REPLACE "^files ${folder} +" "" entry "${entry}")
    separate_arguments(names UNIX_COMMAND "${entry}")
    foreach(name ${names})
      set(file ${PROJECT_SOURCE_DIR}/tests/${folder}/${name}_test.cpp)
      # A stale entry would make the printed list claim what the build no longer does.
      if(NOT EXISTS ${file})
        message(FATAL_ERROR
          "${MIRAVA_WINE_LEFT_OUT} names tests/${folder}/${name}_test.cpp, which does not exist")
      endif()
      list(APPEND left_out ${file})
    endforeach()
  endforeach()
  set(${var} ${left_out} PARENT_SCOPE)
endfunction()
