# install_package.cmake -- installs the build into a scratch prefix, then builds the C
# example host against the installed package twice (find_package and pkg-config) and
# runs both, and the installed command.
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -P install_package.cmake
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed (${result}): ${ARGN}\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

foreach(wanted include/hedgerow.h bin/hedgerow share/man/man1/hedgerow.1)
  if(NOT EXISTS ${prefix}/${wanted})
    message(FATAL_ERROR "not installed: ${wanted}")
  endif()
endforeach()
file(GLOB_RECURSE pc_files ${prefix}/*/hedgerow.pc)
file(GLOB_RECURSE config_files ${prefix}/*/HedgerowConfig.cmake)
if(NOT pc_files OR NOT config_files)
  message(FATAL_ERROR "package files missing: '${pc_files}' '${config_files}'")
endif()

# The command finds its library through its run path.
run(${prefix}/bin/hedgerow --version)
message(STATUS "installed command: ${run_output}")

# find_package(Hedgerow)
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples -B ${WORK_DIR}/cmake-build -G Ninja -DCMAKE_PREFIX_PATH=${prefix})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake-build)
file(MAKE_DIRECTORY ${WORK_DIR}/run-cmake)
execute_process(COMMAND ${WORK_DIR}/cmake-build/hedgerow_example_host WORKING_DIRECTORY ${WORK_DIR}/run-cmake
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 0 OR NOT out MATCHES "matches")
  message(FATAL_ERROR "example host (find_package) failed: ${out}${err}")
endif()

# pkg-config
list(GET pc_files 0 pc_file)
get_filename_component(pc_dir ${pc_file} DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${pc_dir})
run(pkg-config --cflags --libs hedgerow)
string(STRIP "${run_output}" flags)
separate_arguments(flags UNIX_COMMAND "${flags}")
string(REGEX REPLACE "^.*-L([^ ;]+).*$" "\\1" libdir "${flags}")
run(cc ${SOURCE_DIR}/examples/host.c ${flags} -Wl,-rpath,${libdir} -o ${WORK_DIR}/host-pkg-config)
file(MAKE_DIRECTORY ${WORK_DIR}/run-pkg-config)
execute_process(COMMAND ${WORK_DIR}/host-pkg-config WORKING_DIRECTORY ${WORK_DIR}/run-pkg-config
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 0 OR NOT out MATCHES "matches")
  message(FATAL_ERROR "example host (pkg-config) failed: ${out}${err}")
endif()
message(STATUS "example host built against the installed package and ran, twice")
