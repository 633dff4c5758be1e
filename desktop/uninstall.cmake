# Removes every file and link that the last install listed in MANIFEST, then the program's folder
# and the icon folders when they are left empty. Files the program wrote itself (the lists, the
# settings, the member list, a kept .bak, the sync's PorAddrSync.ini, PorAddrSync.state and
# PorAddrSync-conflicts.vcf) were never installed, so they stay where they are.
if(NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "Nothing to remove: ${MANIFEST} not found (install first, from this build folder)")
endif()
file(STRINGS "${MANIFEST}" installed ENCODING UTF-8)
set(folders)
foreach(path IN LISTS installed)
  if(IS_SYMLINK "${path}" OR EXISTS "${path}")
    message(STATUS "Removing: ${path}")
    file(REMOVE "${path}")
    get_filename_component(folder "${path}" DIRECTORY)
    list(APPEND folders "${folder}")
  endif()
endforeach()
list(REMOVE_DUPLICATES folders)
foreach(folder IN LISTS folders)
  # Only the folders that belong to the program alone; shared ones such as bin stay.
  if(folder MATCHES "/${PROGRAM_DIR_NAME}$")
    file(GLOB left "${folder}/*")
    if(left)
      message(STATUS "Kept: ${folder} (holds the address book's own files)")
    else()
      file(REMOVE_RECURSE "${folder}")
    endif()
  endif()
endforeach()
