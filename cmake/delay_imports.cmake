# Delay-import libraries, made once per build folder from MinGW-w64's own
# import libraries: a program linked with one imports that DLL's functions on
# their first call instead of at its start. Wine and Windows initialise user32
# (and with it a connection to the desktop) for every process that imports it,
# so a run that never shows a window starts sooner without.

# Sets `out_var` to the delay-import library for `dll` (a name such as user32).
function(tarnwick_delay_import_library out_var dll)
  set(folder ${CMAKE_BINARY_DIR}/delay-imports)
  set(library ${folder}/lib${dll}-delayed.a)
  if(NOT EXISTS ${library})
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=lib${dll}.a
                    OUTPUT_VARIABLE import OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND ${CMAKE_NM} -g ${import} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
    # Each function's import pointer, __imp__Name@N for stdcall: the name
    # the compiled code asks for, kept; -k drops the @N from the name looked up.
    string(REGEX MATCHALL "I __imp__[^\n]+" names "${symbols}")
    list(TRANSFORM names REPLACE "^I __imp__" "")
    if(NOT names)
      message(FATAL_ERROR "no functions in ${import}")
    endif()
    list(JOIN names "\n" exports)
    file(WRITE ${folder}/${dll}.def "LIBRARY ${dll}.dll\nEXPORTS\n${exports}\n")
    # A fixed prefix for dlltool's member names: the library comes out the
    # same in every build folder.
    execute_process(COMMAND ${CMAKE_DLLTOOL} -k -d ${dll}.def -y lib${dll}-delayed.a -D ${dll}.dll -t ${dll}-delayed
                    WORKING_DIRECTORY ${folder} COMMAND_ERROR_IS_FATAL ANY)
  endif()
  set(${out_var} ${library} PARENT_SCOPE)
endfunction()
