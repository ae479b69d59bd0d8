# Message catalogues (GNU gettext).
#
# - The English source template resources/locale/velkor.pot is extracted
#   from the sources of every layer folder with xgettext (keywords Tr, Dt, Dlg,
#   TrDomain:2, VL_TR_NOOP), without source locations so that moving code
#   leaves it alone. The file in the source tree is replaced only
#   when its messages change, so a build leaves it untouched otherwise.
# - Every resources/locale/<code>/<domain>.po is compiled with msgfmt into
#   bin/locale/<code>/LC_MESSAGES/<domain>.mo, where the programs look for
#   it beside themselves.
# Both are part of the default build (target vl_translations).

find_program(XGETTEXT_EXECUTABLE xgettext REQUIRED)
find_program(MSGFMT_EXECUTABLE msgfmt REQUIRED)

set(VL_LOCALE_SOURCE_DIR ${PROJECT_SOURCE_DIR}/resources/locale)
set(VL_LOCALE_OUTPUT_DIR ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/locale)

# Layer folders: the top-level folders with a CMakeLists.txt, except tests.
file(GLOB _vl_top LIST_DIRECTORIES true RELATIVE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/*)
set(_vl_tr_globs)
foreach(_dir IN LISTS _vl_top)
  if(IS_DIRECTORY ${PROJECT_SOURCE_DIR}/${_dir} AND EXISTS ${PROJECT_SOURCE_DIR}/${_dir}/CMakeLists.txt
     AND NOT _dir MATCHES "^(tests|bench)$")
    list(APPEND _vl_tr_globs ${_dir}/*.cpp ${_dir}/*.h)
  endif()
endforeach()
file(GLOB_RECURSE _vl_tr_sources CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR} ${_vl_tr_globs})
list(SORT _vl_tr_sources)
list(JOIN _vl_tr_sources "\n" _vl_tr_list)
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/locale/sources.txt CONTENT "${_vl_tr_list}\n")

set(_vl_pot_raw ${CMAKE_BINARY_DIR}/locale/velkor.pot.raw)
set(_vl_pot_stamp ${CMAKE_BINARY_DIR}/locale/velkor.pot.stamp)
list(TRANSFORM _vl_tr_sources PREPEND ${PROJECT_SOURCE_DIR}/ OUTPUT_VARIABLE _vl_tr_depends)
add_custom_command(
  OUTPUT ${_vl_pot_stamp}
  COMMAND ${XGETTEXT_EXECUTABLE} --language=C++ --from-code=UTF-8 --force-po --sort-output --no-location
          --keyword=Tr --keyword=TrDomain:2 --keyword=VL_TR_NOOP
          --keyword=Dt --keyword=Dlg
          --package-name=Velkor --package-version=${PROJECT_VERSION}
          --files-from=${CMAKE_BINARY_DIR}/locale/sources.txt --output=${_vl_pot_raw}
  COMMAND ${CMAKE_COMMAND} -DRAW=${_vl_pot_raw} -DPOT=${VL_LOCALE_SOURCE_DIR}/velkor.pot
          -P ${CMAKE_CURRENT_LIST_DIR}/UpdatePot.cmake
  COMMAND ${CMAKE_COMMAND} -E touch ${_vl_pot_stamp}
  DEPENDS ${_vl_tr_depends} ${CMAKE_BINARY_DIR}/locale/sources.txt ${CMAKE_CURRENT_LIST_DIR}/UpdatePot.cmake
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  COMMENT "Extracting the message template velkor.pot"
  VERBATIM)

file(GLOB _vl_po_files CONFIGURE_DEPENDS ${VL_LOCALE_SOURCE_DIR}/*/*.po)
set(_vl_mo_files)
foreach(_po IN LISTS _vl_po_files)
  get_filename_component(_domain ${_po} NAME_WE)
  get_filename_component(_code_dir ${_po} DIRECTORY)
  get_filename_component(_code ${_code_dir} NAME)
  set(_mo ${VL_LOCALE_OUTPUT_DIR}/${_code}/LC_MESSAGES/${_domain}.mo)
  add_custom_command(
    OUTPUT ${_mo}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VL_LOCALE_OUTPUT_DIR}/${_code}/LC_MESSAGES
    COMMAND ${MSGFMT_EXECUTABLE} --check --output-file=${_mo} ${_po}
    DEPENDS ${_po}
    COMMENT "Compiling catalogue ${_code}/${_domain}.mo"
    VERBATIM)
  list(APPEND _vl_mo_files ${_mo})
endforeach()

add_custom_target(vl_translations ALL DEPENDS ${_vl_pot_stamp} ${_vl_mo_files})
