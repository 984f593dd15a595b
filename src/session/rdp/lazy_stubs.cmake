# tclink_lazy_stubs(TARGET PREFIX prefix ARCHIVES static-library-targets... LIBRARIES files...)
# Adds to TARGET the stubs (lazy_stubs.py) of every function of the shared LIBRARIES that the
# ARCHIVES use, so that a program linking them does not link the libraries: PREFIX_resolve, which
# TARGET or the program defines, loads them when a stub is first called. Functions of the
# libraries that the ARCHIVES define in their place are exported from every program linking
# TARGET, so that they still take the place of the libraries' own.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
enable_language(ASM)
set(TCLINK_LAZY_STUBS_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/lazy_stubs.py)

function(tclink_lazy_stubs target)
  cmake_parse_arguments(L "" "PREFIX" "ARCHIVES;LIBRARIES" ${ARGN})
  set(assembly ${CMAKE_CURRENT_BINARY_DIR}/${L_PREFIX}_stubs.S)
  set(exports ${CMAKE_CURRENT_BINARY_DIR}/${L_PREFIX}_replaced.list)
  set(archive_files "")
  foreach(archive IN LISTS L_ARCHIVES)
    list(APPEND archive_files $<TARGET_FILE:${archive}>)
  endforeach()
  add_custom_command(OUTPUT ${assembly} ${exports}
    COMMAND ${Python3_EXECUTABLE} -B ${TCLINK_LAZY_STUBS_SCRIPT} --prefix ${L_PREFIX}
      --output ${assembly} --dynamic-list ${exports} --nm ${CMAKE_NM} --readelf ${CMAKE_READELF}
      --archive ${archive_files} --library ${L_LIBRARIES}
    DEPENDS ${TCLINK_LAZY_STUBS_SCRIPT} ${L_ARCHIVES} ${archive_files}
    COMMENT "Stubs of ${L_PREFIX}'s libraries" VERBATIM)
  target_sources(${target} PRIVATE ${assembly})
  target_link_options(${target} INTERFACE LINKER:--dynamic-list=${exports})
  set_property(TARGET ${target} APPEND PROPERTY INTERFACE_LINK_DEPENDS ${exports})
endfunction()
