# HedgerowImportLibrary.cmake -- makes the import library of Hedgerow.dll (run by the build
# with cmake -P). Finds each exported name's stdcall decoration (_Name@N) in the objects,
# writes a module-definition file of decorated names and has dlltool turn it into an
# import library whose entries bind by the plain name (-k). Fails when a name of the
# export list is defined by no object.
#   NM, DLLTOOL, EXPORTS (export list), OBJECTS (|-separated), DLL_NAME, DEF, IMPORT_LIBRARY
string(REPLACE "|" ";" object_list "${OBJECTS}")
execute_process(COMMAND ${NM} -g --defined-only ${object_list}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE nm_result)
if(NOT nm_result EQUAL 0)
  message(FATAL_ERROR "${NM} failed on the library's objects")
endif()
file(STRINGS ${EXPORTS} names REGEX "^[A-Za-z_]")
set(body "")
foreach(name IN LISTS names)
  if(symbols MATCHES " T _${name}(@[0-9]+)\n")
    string(APPEND body "  ${name}${CMAKE_MATCH_1}\n")
  elseif(symbols MATCHES " T _${name}\n")
    string(APPEND body "  ${name}\n")
  else()
    message(FATAL_ERROR "${name} is in the export list but no object defines it")
  endif()
endforeach()
file(WRITE ${DEF} "LIBRARY ${DLL_NAME}\nEXPORTS\n${body}")
execute_process(COMMAND ${DLLTOOL} -k -d ${DEF} -D ${DLL_NAME} -l ${IMPORT_LIBRARY}
                RESULT_VARIABLE dlltool_result)
if(NOT dlltool_result EQUAL 0)
  message(FATAL_ERROR "${DLLTOOL} could not make ${IMPORT_LIBRARY}")
endif()
