# Install helpers for the shapes Debian asks for: gzipped files, DEP-5 copyright, no .comment.

find_program(TESSALY_GZIP gzip REQUIRED)

# tessaly_install_gzipped(<source> <destination> [NAME <name>] [COPYONLY])
# Configures <source> (@VAR@ replaced, unless COPYONLY) into the build folder as <name> (default:
# the source's name), compresses it as Debian does (-9, and -n so that no time stamp varies
# between builds) and installs <name>.gz. Both steps run when CMake configures, so an edit of the
# source reconfigures and compresses it again.
function(tessaly_install_gzipped source destination)
  cmake_parse_arguments(ARG "COPYONLY" "NAME" "" ${ARGN})
  get_filename_component(name "${source}" NAME)
  if(ARG_NAME)
    set(name "${ARG_NAME}")
  endif()
  set(copy_mode @ONLY)
  if(ARG_COPYONLY)
    set(copy_mode COPYONLY)
  endif()
  set(plain "${PROJECT_BINARY_DIR}/installed/${name}")
  configure_file("${source}" "${plain}" ${copy_mode})
  execute_process(COMMAND "${TESSALY_GZIP}" -9 -n -c "${plain}" OUTPUT_FILE "${plain}.gz"
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip could not compress ${plain}")
  endif()
  install(FILES "${plain}.gz" DESTINATION "${destination}")
endfunction()

# tessaly_install_copyright(<licence> <template> <destination>)
# Installs <destination>/copyright: <template> in the Debian copyright format, with
# @TESSALY_LICENCE_TEXT@ replaced by the licence's terms from <licence> (everything from its
# first paragraph after the title and copyright lines), each line indented by one blank and
# empty lines written as " .", as the format asks. The licence stays written once.
function(tessaly_install_copyright licence template destination)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${licence}")
  file(READ "${licence}" text)
  string(FIND "${text}" "Permission is hereby granted" start)
  if(start LESS 0)
    message(FATAL_ERROR "${licence} no longer begins its terms with \"Permission is hereby granted\"")
  endif()
  string(SUBSTRING "${text}" ${start} -1 text)
  string(STRIP "${text}" text)
  string(REPLACE "\n\n" "\n.\n" text "${text}")
  string(REPLACE "\n" "\n " TESSALY_LICENCE_TEXT " ${text}")
  configure_file("${template}" "${PROJECT_BINARY_DIR}/installed/copyright" @ONLY)
  install(FILES "${PROJECT_BINARY_DIR}/installed/copyright" DESTINATION "${destination}")
endfunction()

# tessaly_strip_comments(<bindir> <program>...)
# A stripped install (cmake --install --strip, and the package, whose CPACK_STRIP_FILES asks for
# one) also drops the .comment section, which names only the compiler, as Debian's own tools do.
function(tessaly_strip_comments bindir)
  foreach(program ${ARGN})
    install(CODE "
      if(CMAKE_INSTALL_DO_STRIP)
        execute_process(
          COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment
                  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${bindir}/${program}\"
          RESULT_VARIABLE failed)
        if(failed)
          message(FATAL_ERROR \"${CMAKE_STRIP} could not remove .comment from ${program}\")
        endif()
      endif()")
  endforeach()
endfunction()
