# tavrix_add_manpage(<program> <source.scd>): builds the program's manual page
# from scdoc source kept beside its code, installs it (compressed, as Debian
# wants it) and lists it for the test that holds the page to the program's
# --help. Without scdoc the pages are left out with a note.
include(GNUInstallDirs)
find_program(SCDOC_PROGRAM scdoc)
find_program(GZIP_PROGRAM gzip)
if(NOT SCDOC_PROGRAM)
  message(STATUS "scdoc not found: the manual pages are not built")
endif()

function(tavrix_add_manpage program source)
  if(NOT SCDOC_PROGRAM)
    return()
  endif()
  get_filename_component(source ${source} ABSOLUTE)
  get_filename_component(page ${source} NAME_WLE)   # program.1
  string(REGEX MATCH "[1-9]$" section ${page})
  if(NOT section)
    message(FATAL_ERROR "${source}: the name must end in .<section>.scd")
  endif()
  set(roff ${PROJECT_BINARY_DIR}/man/${page})
  add_custom_command(
    OUTPUT ${roff} ${roff}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND sh -c "\"$0\" < \"$1\" > \"$2\"" ${SCDOC_PROGRAM} ${source} ${roff}
    COMMAND ${GZIP_PROGRAM} -9nkf ${roff}
    DEPENDS ${source}
    COMMENT "Building the manual page ${page}"
    VERBATIM)
  add_custom_target(${program}-manpage ALL DEPENDS ${roff} ${roff}.gz)
  install(FILES ${roff}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  set_property(GLOBAL APPEND PROPERTY TAVRIX_MANPAGES "${program}=${source}=${roff}")
endfunction()
