# The R and Python packages compile the library themselves, from the list in
# cmake/package-sources.txt. This check keeps that list the library's: every
# source of libkorvelan.a is listed there as a source or as left out, nothing
# else is, and the list's flags are the Release build's.

function(korvelan_check_package_sources)
  set(manifest ${PROJECT_SOURCE_DIR}/cmake/package-sources.txt)
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${manifest})
  file(STRINGS ${manifest} lines REGEX "^[a-z]+ ")
  set(listed "")
  foreach(line ${lines})
    string(REGEX MATCH "^([a-z]+) (.*)$" _ "${line}")
    if(CMAKE_MATCH_1 STREQUAL "source" OR CMAKE_MATCH_1 STREQUAL "omit")
      list(APPEND listed ${CMAKE_MATCH_2})
    elseif(CMAKE_MATCH_1 STREQUAL "flags")
      set(flags "${CMAKE_MATCH_2}")
    elseif(CMAKE_MATCH_1 STREQUAL "pic")
      set(pic "${CMAKE_MATCH_2}")
    endif()
  endforeach()

  set(built "")
  foreach(pair korvelan_lib:library korvelan_engine_objects:engine
               korvelan_numeric_objects:numeric korvelan_textio_objects:textio
               korvelan_common:common)
    string(REPLACE ":" ";" pair ${pair})
    list(GET pair 0 target)
    list(GET pair 1 folder)
    get_target_property(sources ${target} SOURCES)
    foreach(source ${sources})
      # The archive's generator expressions name the parts' objects, whose
      # sources the loop reaches through the parts' own targets.
      # The generated page assets are the `embed` line's, made by each
      # package itself.
      if(NOT source MATCHES "^\\$<" AND NOT IS_ABSOLUTE "${source}")
        list(APPEND built ${folder}/${source})
      endif()
    endforeach()
  endforeach()

  list(SORT listed)
  list(SORT built)
  if(NOT listed STREQUAL built)
    set(missing ${built})
    list(REMOVE_ITEM missing ${listed})
    set(extra ${listed})
    list(REMOVE_ITEM extra ${built})
    message(FATAL_ERROR "${manifest} does not list the library's sources: "
            "not listed: [${missing}]; not in the library: [${extra}]")
  endif()

  string(REPLACE ";" " " fp "${KORVELAN_FP_FLAGS}")
  string(REPLACE ";" " " pic_flags "${KORVELAN_PIC_FLAGS}")
  # The compiler's own Release flags, whatever this build was configured with.
  string(STRIP "${CMAKE_CXX_FLAGS_RELEASE_INIT}" release)
  string(STRIP "${release} ${fp}" release)
  if(NOT flags STREQUAL release OR NOT pic STREQUAL pic_flags)
    message(FATAL_ERROR "${manifest}: flags '${flags}' and pic '${pic}' are not the Release "
            "build's '${release}' and '${pic_flags}'")
  endif()
endfunction()
