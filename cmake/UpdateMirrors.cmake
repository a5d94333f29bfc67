# A release that still carries the placeholder mirrors would never learn of an update; it must
# not slip out unnoticed. Also runnable as a script (tests/tools/update_mirrors_test.py):
#   cmake -DBUILD_TYPE=Release -DMIRRORS="a;b" -P cmake/UpdateMirrors.cmake
function(vq_check_update_mirrors build_type)
  set(placeholders "")
  foreach(m ${ARGN})
    # The host is what lies between "//" and the next "/", ":" or the end.
    string(REGEX REPLACE "^[A-Za-z]+://([^/:]*).*$" "\\1" host "${m}")
    string(TOLOWER "${host}" host)
    if(host MATCHES "(^|\\.)invalid$")
      list(APPEND placeholders "${m}")
    endif()
  endforeach()
  if(placeholders AND build_type MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$")
    list(JOIN placeholders "\n    " shown)
    message(WARNING "\n"
      "************************************************************************\n"
      "  THIS ${build_type} BUILD CANNOT FIND UPDATES: its update mirrors are\n"
      "  placeholders under .invalid, which never resolve:\n    ${shown}\n"
      "  Set VQ_MIRROR_1 ... VQ_MIRROR_4 to the real addresses.\n"
      "************************************************************************")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  vq_check_update_mirrors("${BUILD_TYPE}" ${MIRRORS})
endif()
