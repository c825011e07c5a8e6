# The same bytes from every clean build of one commit with one toolchain, wherever the
# sources and the build folder lie.

# No folder of this machine in the program: __FILE__ and the like name files relative
# to the sources.
add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=>
                    $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}/=>)

# Archives without time stamps, owners or modes (Debian's ar does so by default; other
# builds of binutils do not).
foreach(lang C CXX)
  set(CMAKE_${lang}_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
endforeach()

# The PE header's time stamp is the last commit's time (SOURCE_DATE_EPOCH, which the
# MinGW linker honours), not the link's: a packager's own SOURCE_DATE_EPOCH wins, and
# outside git it is zero.
function(remover_source_date_epoch out)
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(epoch "$ENV{SOURCE_DATE_EPOCH}")
  else()
    execute_process(COMMAND git -C "${CMAKE_SOURCE_DIR}" log -1 --format=%ct
                    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE failed ERROR_QUIET)
    if(failed OR NOT epoch MATCHES "^[0-9]+$")
      set(epoch 0)
    endif()
  endif()
  set(${out} "${epoch}" PARENT_SCOPE)
endfunction()

function(remover_reproducible_link target)
  remover_source_date_epoch(epoch)
  # In the link rule itself, so that a new commit's time relinks the program.
  set_target_properties(${target} PROPERTIES
    CXX_LINKER_LAUNCHER "${CMAKE_COMMAND};-E;env;SOURCE_DATE_EPOCH=${epoch}")
endfunction()
