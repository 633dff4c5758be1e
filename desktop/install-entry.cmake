# Runs at install time, when the prefix is known: the `poraddr`, `poraddr-vcard`, `poraddr-sync` and
# `poraddr-sync-setup` commands and the two menu entries. `poraddr` (and so the program's entry)
# starts the launcher, which syncs the lists around the program when a sync is set up and otherwise
# becomes the program at once.
# Set before it: PORADDR_APP_ID, PORADDR_WM_CLASS, PORADDR_SETUP_WM_CLASS, PORADDR_PROGRAM_DIR,
# ENTRY_TEMPLATE, ENTRY_OUTPUT, SETUP_ENTRY_TEMPLATE, SETUP_ENTRY_OUTPUT.

# The commands: relative links, so the tree can be moved or staged with DESTDIR. The programs
# (the launcher too) follow the link back to their real file and keep (or find) the data in that
# folder.
set(bin "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/bin")
file(MAKE_DIRECTORY "${bin}")
foreach(command IN ITEMS "poraddr=poraddr-launch" "poraddr-vcard=poraddr-vcard" "poraddr-sync=poraddr-sync"
             "poraddr-sync-setup=poraddr-sync-setup")
  string(REPLACE "=" ";" command "${command}")
  list(GET command 0 name)
  list(GET command 1 program)
  file(RELATIVE_PATH target "${CMAKE_INSTALL_PREFIX}/bin" "${CMAKE_INSTALL_PREFIX}/${PORADDR_PROGRAM_DIR}/${program}")
  message(STATUS "Installing: ${bin}/${name} -> ${target}")
  file(CREATE_LINK "${target}" "${bin}/${name}" SYMBOLIC)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${bin}/${name}")
endforeach()

# The menu entries start their commands by full path (a new ~/.local/bin is not on the session's
# PATH before the next login). Quoted as the entry format wants: inside the quotes " ` $ \ take a
# backslash, and every backslash of the value is doubled once more by the file's own escaping.
function(write_entry template output command wm_class)
  set(exec "${CMAKE_INSTALL_PREFIX}/bin/${command}")
  string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\1" exec "${exec}")
  string(REPLACE "\\" "\\\\" exec "${exec}")
  set(PORADDR_EXEC "\"${exec}\"")
  set(PORADDR_WM_CLASS "${wm_class}")
  configure_file("${template}" "${output}" @ONLY)
endfunction()
write_entry("${ENTRY_TEMPLATE}" "${ENTRY_OUTPUT}" poraddr "${PORADDR_WM_CLASS}")
write_entry("${SETUP_ENTRY_TEMPLATE}" "${SETUP_ENTRY_OUTPUT}" poraddr-sync-setup "${PORADDR_SETUP_WM_CLASS}")
