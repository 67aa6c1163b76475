# Warning flags shared by every target of the project.
function(hedgerow_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wcast-qual -Wformat=2 -Wundef
                                             $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>)
    if(HEDGEROW_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      # The sanitizers' instrumentation makes g++ report uninitialised reads in the
      # standard library (std::function inside std::regex) that are not there.
      target_compile_options(${target} PRIVATE -Wno-maybe-uninitialized)
    endif()
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
      # g++ 12 at -O3 reports overlapping copies inside std::string concatenation that
      # cannot happen (its bug 105329).
      target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Wno-restrict>)
    endif()
    if(HEDGEROW_WERROR)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
  endif()
endfunction()
